#include "ui/toolkit/list.h"

#include <algorithm>

#include <QAbstractListModel>
#include <QFile>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QHelpEvent>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QToolTip>

#include "core/log_file.h"
#include "platform/paths.h"
#include "ui/toolkit/paint_manager.h"
#include "ui/toolkit/window.h"

namespace ui {

// One item template of a list: the form read once, its cells' defaults, and their
// places per row indent for the list's current width.
struct ListRowTemplate {
    struct Cell {
        std::string name;
        CListCellUI::Kind kind;
        std::string text;
        std::shared_ptr<const SharedImage> image;
        Qt::Alignment align;
        bool visible;
        std::optional<QColor> color;
        std::string toolTip;
    };
    std::string file;
    std::unique_ptr<QWidget> form;
    std::vector<QWidget*> parts;  // the form's named children, in cell order
    std::vector<Cell> cells;
    std::string rowImage;
    int height = 24;
    mutable int layoutWidth = -1;
    mutable std::map<int, CListUI::CellLayout> layouts;  // by indent

    int IndexOf(const std::string& name) const {
        for (std::size_t i = 0; i < cells.size(); ++i)
            if (cells[i].name == name) return static_cast<int>(i);
        return -1;
    }
};

// Cells --------------------------------------------------------------------------

CListCellUI::CListCellUI(CListElementUI& row, std::string name, Kind kind)
    : row_(row), name_(std::move(name)), kind_(kind) {}

std::string CListCellUI::GetClass() const {
    switch (kind_) {
        case Kind::kButton: return "Button";
        case Kind::kImage: return "Control";
        case Kind::kLabel: break;
    }
    return "Label";
}

void CListCellUI::SetText(const std::string& text) {
    if (text_ == text) return;
    text_ = text;
    row_.Invalidate();
}

void CListCellUI::SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    row_.Invalidate();
}

void CListCellUI::SetEnabled(bool enabled) {
    if (enabled_ == enabled) return;
    enabled_ = enabled;
    row_.Invalidate();
}

CControlUI* CListCellUI::GetParent() const { return &row_; }

void CListCellUI::SetBkImage(const std::string& attr) {
    if (attr == GetBkImage()) return;
    CControlUI::SetBkImage(attr);
    row_.Invalidate();
}

void CListCellUI::SetPlace(const QRect& place) {
    if (place_ == place) return;
    place_ = place;
    row_.Invalidate();
}

void CListCellUI::SetTextColor(const QColor& color) {
    if (textColor_ == color) return;
    textColor_ = color;
    row_.Invalidate();
}

// Rows ---------------------------------------------------------------------------

CListElementUI::CListElementUI() = default;
CListElementUI::~CListElementUI() = default;

void CListElementUI::SetText(const std::string& text) {
    text_ = text;
    Invalidate();
}

void CListElementUI::SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    if (owner_) owner_->VisibilityChanged(*this);
}

void CListElementUI::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Invalidate();
}

CControlUI* CListElementUI::GetParent() const { return owner_; }

void CListElementUI::SetBkImage(const std::string& attr) {
    CControlUI::SetBkImage(attr);
    Invalidate();
}

void CListElementUI::SetIndent(int pixels) {
    pixels = std::max(0, pixels);
    if (indent_ == pixels) return;
    indent_ = pixels;
    Invalidate();
}

void CListElementUI::SetFixedHeight(int pixels) {
    pixels = std::max(0, pixels);
    if (fixedHeight_ == pixels) return;
    fixedHeight_ = pixels;
    if (owner_) owner_->RowHeightChanged(*this);
}

CListCellUI* CListElementUI::FindCell(const std::string& name) const {
    for (const auto& cell : cells_)
        if (cell->GetName() == name) return cell.get();
    const int index = template_ ? template_->IndexOf(name) : -1;
    if (index < 0) return nullptr;
    // First use of a template cell: it starts as the template has it.
    const ListRowTemplate::Cell& shape = template_->cells[index];
    auto cell = std::make_unique<CListCellUI>(const_cast<CListElementUI&>(*this), shape.name, shape.kind);
    cell->templateIndex_ = index;
    cell->text_ = shape.text;
    cell->bkImage_ = shape.image;
    cell->visible_ = shape.visible;
    cell->textColor_ = shape.color;
    cells_.push_back(std::move(cell));
    return cells_.back().get();
}

CListCellUI* CListElementUI::Cell(const std::string& name) {
    if (CListCellUI* cell = FindCell(name)) return cell;
    return AddCell(name, CListCellUI::Kind::kLabel);
}

CListCellUI* CListElementUI::AddCell(std::string name, CListCellUI::Kind kind) {
    if (CListCellUI* cell = FindCell(name)) return cell;
    cells_.push_back(std::make_unique<CListCellUI>(*this, std::move(name), kind));
    return cells_.back().get();
}

int CListElementUI::GetIndex() const { return owner_ ? index_ : -1; }

void CListElementUI::Invalidate() {
    if (owner_) owner_->RowChanged(*this);
}

// Model and painting --------------------------------------------------------------

class CListUI::Model final : public QAbstractListModel {
public:
    std::vector<std::unique_ptr<CListElementUI>> rows;

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : static_cast<int>(rows.size()); }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(rows.size())) return {};
        return QString::fromStdString(rows[index.row()]->GetText());
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid() || index.row() >= static_cast<int>(rows.size())) return Qt::NoItemFlags;
        return rows[index.row()]->IsEnabled() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }
    void Insert(int at, std::unique_ptr<CListElementUI> row) {
        beginInsertRows({}, at, at);
        rows.insert(rows.begin() + at, std::move(row));
        endInsertRows();
    }
    void Append(std::vector<std::unique_ptr<CListElementUI>>& more) {
        if (more.empty()) return;
        const int first = static_cast<int>(rows.size());
        beginInsertRows({}, first, first + static_cast<int>(more.size()) - 1);
        for (auto& row : more) rows.push_back(std::move(row));
        endInsertRows();
    }
    void Erase(int at, int count = 1) {
        beginRemoveRows({}, at, at + count - 1);
        rows.erase(rows.begin() + at, rows.begin() + at + count);
        endRemoveRows();
    }
    void Clear() {
        beginResetModel();
        rows.clear();
        endResetModel();
    }
    void Changed(int row) {
        QModelIndex at = index(row);
        emit dataChanged(at, at);
    }
};

class CListUI::Delegate final : public QStyledItemDelegate {
public:
    explicit Delegate(CListUI& list) : QStyledItemDelegate(&list), list_(list) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override {
        const CListElementUI* row = list_.GetItemAt(index.row());
        return {list_.viewport()->width(), row ? list_.RowHeightOf(*row) : list_.rowHeight_};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        CListElementUI* row = list_.GetItemAt(index.row());
        if (!row) return;
        const QRect r = option.rect;
        const QPalette& pal = list_.palette();
        if (option.state & QStyle::State_Selected)
            painter->fillRect(r, pal.color(QPalette::Highlight));
        else if (option.state & QStyle::State_MouseOver)
            painter->fillRect(r, pal.color(QPalette::AlternateBase));
        PaintImage(*painter, r, row->BkImage());

        const QColor textColor = row->IsEnabled() ? pal.color(QPalette::Text) : pal.color(QPalette::PlaceholderText);
        if (row->Cells().empty() && (!row->template_ || row->template_->cells.empty())) {
            painter->setPen(textColor);
            painter->drawText(r.adjusted(6 + row->GetIndent(), 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                              QString::fromStdString(row->GetText()));
            return;
        }
        const ListRowTemplate* shape = row->template_;
        CellLayout arranged;
        const CellLayout* layout = list_.ArrangedPlaces(*row, arranged) ? &arranged : nullptr;
        auto draw = [&](QRect place, const ImageAttr& image, const std::string& text, bool enabled,
                        const std::optional<QColor>& color, Qt::Alignment align) {
            if (place.isEmpty()) return;
            place.translate(r.topLeft());
            if (place.left() >= r.right()) return;
            place.setRight(std::min(place.right(), r.right()));
            PaintImage(*painter, place, image);
            if (text.empty()) return;
            painter->setPen(enabled ? color.value_or(textColor) : pal.color(QPalette::PlaceholderText));
            const QString label =
                painter->fontMetrics().elidedText(QString::fromStdString(text), Qt::ElideRight, place.width());
            painter->drawText(place, static_cast<int>(align), label);
        };
        static const ImageAttr kNoImage;
        // Template cells, each as the row changed it or as the template has it.
        for (std::size_t i = 0; shape && layout && i < shape->cells.size(); ++i) {
            const ListRowTemplate::Cell& defaults = shape->cells[i];
            if (const CListCellUI* own = OwnCell(*row, static_cast<int>(i))) {
                if (!own->visible_) continue;
                draw(own->place_ ? *own->place_ : (*layout)[i], own->BkImageAttr(), own->text_, own->enabled_,
                     own->textColor_, defaults.align);
            } else if (defaults.visible) {
                draw((*layout)[i], defaults.image ? defaults.image->attr : kNoImage, defaults.text, true,
                     defaults.color, defaults.align);
            }
        }
        // Cells of the row's own.
        for (const auto& cell : row->Cells()) {
            if (cell->templateIndex_ >= 0 || !cell->visible_ || !cell->place_) continue;
            draw(*cell->place_, cell->BkImageAttr(), cell->text_, cell->enabled_, cell->textColor_,
                 cell->kind_ == CListCellUI::Kind::kButton ? Qt::AlignCenter : Qt::AlignVCenter | Qt::AlignLeft);
        }
    }

private:
    CListUI& list_;
};

// List ---------------------------------------------------------------------------

CListUI::CListUI(QWidget* parent) : CWidgetControl(parent), model_(std::make_unique<Model>()) {
    setModel(model_.get());
    delegate_ = new Delegate(*this);
    setItemDelegate(delegate_);
    setUniformItemSizes(true);
    setMouseTracking(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

CListUI::~CListUI() {
    setModel(nullptr);
}

void CListUI::Attach(CPaintManagerUI* manager) {
    if (GetManager()) return;
    CControlUI::Attach(manager);
    auto rowNotify = [this](const char* type) {
        return [this, type](const QModelIndex& index) {
            if (CListElementUI* row = GetItemAt(index.row()))
                if (GetManager()) GetManager()->SendNotify(row, type, static_cast<std::uintptr_t>(index.row()));
        };
    };
    connect(this, &QListView::clicked, this, rowNotify(notify::kItemClick));
    connect(this, &QListView::doubleClicked, this, rowNotify(notify::kItemDbClick));
    connect(this, &QListView::activated, this, rowNotify(notify::kItemActivate));
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                const int index = current.isValid() ? current.row() : -1;
                const int previous = lastSelection_;
                lastSelection_ = index;
                if (index != previous) Notify(notify::kItemSelect, static_cast<std::uintptr_t>(index), previous);
            });
}

ListRowTemplate* CListUI::LoadTemplate(const std::string& skinFile) {
    for (auto& known : templates_)
        if (known->file == skinFile) return known.get();
    QFile file(QString::fromStdString(platform::JoinPath(CPaintManagerUI::GetResourcePath(), skinFile)));
    if (!file.open(QIODevice::ReadOnly)) {
        core::LogWrite("item template missing: %s", skinFile.c_str());
        return nullptr;
    }
    std::string error;
    std::unique_ptr<QWidget> root(LoadSkinWidget(file.readAll(), nullptr, nullptr, error));
    if (!root) {
        core::LogWrite("item template unreadable: %s (%s)", skinFile.c_str(), error.c_str());
        return nullptr;
    }
    root->setAttribute(Qt::WA_DontShowOnScreen);
    auto shape = std::make_unique<ListRowTemplate>();
    shape->file = skinFile;
    shape->height = std::max(1, root->height());
    shape->rowImage = root->property("bkimage").toString().toStdString();
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        const QString name = widget->objectName();
        if (name.isEmpty() || name.startsWith("qt_")) continue;
        ListRowTemplate::Cell cell;
        cell.name = name.toStdString();
        cell.visible = !widget->isHidden();
        cell.align = Qt::AlignVCenter | Qt::AlignLeft;
        std::string image = widget->property("bkimage").toString().toStdString();
        const QVariant color = widget->property("textcolor");
        if (color.isValid() && QColor::isValidColorName(color.toString())) cell.color = QColor(color.toString());
        cell.toolTip = widget->toolTip().toStdString();
        if (auto* button = dynamic_cast<CButtonUI*>(widget)) {
            cell.kind = CListCellUI::Kind::kButton;
            cell.text = button->GetText();
            cell.align = Qt::AlignCenter;
            if (image.empty()) image = widget->property("normalimage").toString().toStdString();
        } else if (auto* label = dynamic_cast<CLabelUI*>(widget)) {
            cell.kind = CListCellUI::Kind::kLabel;
            cell.text = label->GetText();
            cell.align = label->alignment();
        } else {
            cell.kind = CListCellUI::Kind::kImage;
        }
        cell.image = ShareImage(image);
        shape->cells.push_back(std::move(cell));
        shape->parts.push_back(widget);
    }
    shape->form = std::move(root);
    templates_.push_back(std::move(shape));
    return templates_.back().get();
}

bool CListUI::SetRowTemplate(const std::string& skinFile) {
    const ListRowTemplate* shape = LoadTemplate(skinFile);
    if (!shape) return false;
    default_ = shape;
    rowHeight_ = shape->height;
    viewport()->update();
    return true;
}

const CListUI::CellLayout* CListUI::LayoutOf(const CListElementUI& row) const {
    const ListRowTemplate* shape = row.template_;
    if (!shape) return nullptr;
    const int width = viewport()->width();
    if (shape->layoutWidth != width) {
        shape->layouts.clear();
        shape->layoutWidth = width;
    }
    const int indent = row.GetIndent();
    if (auto known = shape->layouts.find(indent); known != shape->layouts.end()) return &known->second;

    QWidget* form = shape->form.get();
    auto layOut = [form, shape, width, indent] {
        form->resize(std::max(width - indent, form->minimumWidth()), shape->height);
        if (QLayout* layout = form->layout()) {
            layout->invalidate();
            layout->activate();
        }
    };
    const std::vector<QWidget*>& parts = shape->parts;
    // Shown cells where the layout puts them; hidden ones where they would go if shown.
    CellLayout places(parts.size());
    layOut();
    std::vector<std::size_t> hidden;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i]->isHidden())
            hidden.push_back(i);
        else
            places[i] = QRect(parts[i]->mapTo(form, QPoint()), parts[i]->size()).translated(indent, 0);
    }
    if (!hidden.empty()) {
        for (std::size_t i : hidden) parts[i]->setVisible(true);
        layOut();
        for (std::size_t i : hidden) places[i] = QRect(parts[i]->mapTo(form, QPoint()), parts[i]->size()).translated(indent, 0);
        for (std::size_t i : hidden) parts[i]->setVisible(false);
        layOut();
    }
    return &shape->layouts.emplace(indent, std::move(places)).first->second;
}

QRect CListUI::PlaceOf(const CellLayout* layout, const CListCellUI& cell) const {
    if (cell.GetPlace()) return *cell.GetPlace();
    const int index = cell.templateIndex_;
    return layout && index >= 0 && index < static_cast<int>(layout->size()) ? (*layout)[index] : QRect();
}

const CListCellUI* CListUI::OwnCell(const CListElementUI& row, int index) {
    for (const auto& cell : row.cells_)
        if (cell->templateIndex_ == index) return cell.get();
    return nullptr;
}

std::unique_ptr<CListElementUI> CListUI::NewElement(const ListRowTemplate* shape) const {
    auto row = std::make_unique<CListElementUI>();
    row->template_ = shape;
    if (shape && !shape->rowImage.empty()) row->SetBkImage(shape->rowImage);
    return row;
}

std::unique_ptr<CListElementUI> CListUI::CreateElement() const { return NewElement(default_); }

std::unique_ptr<CListElementUI> CListUI::CreateElement(const std::string& skinFile) {
    const ListRowTemplate* shape = LoadTemplate(skinFile);
    return shape ? NewElement(shape) : nullptr;
}

int CListUI::RowHeightOf(const CListElementUI& row) const {
    if (row.fixedHeight_ > 0) return row.fixedHeight_;
    return row.template_ ? row.template_->height : rowHeight_;
}

bool CListUI::ArrangedPlaces(const CListElementUI& row, CellLayout& places) const {
    const CellLayout* layout = LayoutOf(row);
    if (!layout) return false;
    places = *layout;
    ArrangeCells(row, places);
    return true;
}

void CListUI::ArrangeCells(const CListElementUI&, CellLayout&) const {}

QString CListUI::RowToolTip(const CListElementUI&) const { return {}; }

int CListUI::TemplateCellIndex(const CListElementUI& row, const std::string& name) {
    return row.template_ ? row.template_->IndexOf(name) : -1;
}

std::string CListUI::CellText(const CListElementUI& row, int index) {
    if (index < 0) return {};
    if (const CListCellUI* own = OwnCell(row, index)) return own->text_;
    return row.template_ && index >= 0 && index < static_cast<int>(row.template_->cells.size())
               ? row.template_->cells[index].text
               : std::string();
}

bool CListUI::CellVisible(const CListElementUI& row, int index) {
    if (index < 0) return false;
    if (const CListCellUI* own = OwnCell(row, index)) return own->visible_;
    return row.template_ && index >= 0 && index < static_cast<int>(row.template_->cells.size()) &&
           row.template_->cells[index].visible;
}

QString CListUI::ToolTipAt(const QPoint& pointInViewport) const {
    const QModelIndex index = indexAt(pointInViewport);
    const CListElementUI* row = index.isValid() ? GetItemAt(index.row()) : nullptr;
    if (!row) return {};
    const QPoint inRow = pointInViewport - visualRect(index).topLeft();
    const CListCellUI* cell = CellAt(*row, inRow);
    const ListRowTemplate* shape = row->template_;
    const ListRowTemplate::Cell* shapeCell =
        cell && shape && cell->templateIndex_ >= 0 ? &shape->cells[cell->templateIndex_] : nullptr;
    if (cell && cell->kind_ == CListCellUI::Kind::kButton && shapeCell && !shapeCell->toolTip.empty())
        return QString::fromStdString(shapeCell->toolTip);
    if (QString own = RowToolTip(*row); !own.isEmpty()) return own;
    // A text cut short to fit shows whole.
    if (cell && cell->kind_ == CListCellUI::Kind::kLabel && !cell->text_.empty()) {
        const QString text = QString::fromStdString(cell->text_);
        const QRect place = CellRect(*row, *cell);
        if (viewport()->fontMetrics().horizontalAdvance(text) > place.width()) return text;
    }
    return {};
}

bool CListUI::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QListView::viewportEvent(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = ToolTipAt(help->pos());
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    // Texts come from the service: never read as markup.
    QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal), viewport(),
                       visualRect(indexAt(help->pos())));
    return true;
}

QRect CListUI::CellRect(const CListElementUI& row, const CListCellUI& cell) const {
    if (row.owner_ != this) return {};
    CellLayout arranged;
    const QRect place = PlaceOf(ArrangedPlaces(row, arranged) ? &arranged : nullptr, cell);
    QRect at = visualRect(model_->index(row.index_));
    if (place.isEmpty() || !at.isValid()) return {};
    return place.translated(at.topLeft());
}

CListCellUI* CListUI::CellAt(const CListElementUI& row, const QPoint& pointInRow) const {
    CellLayout arranged;
    const CellLayout* layout = ArrangedPlaces(row, arranged) ? &arranged : nullptr;
    const ListRowTemplate* shape = row.template_;
    for (std::size_t i = 0; shape && layout && i < shape->cells.size(); ++i) {
        const CListCellUI* own = OwnCell(row, static_cast<int>(i));
        const bool visible = own ? own->visible_ : shape->cells[i].visible;
        const QRect place = own && own->place_ ? *own->place_ : (*layout)[i];
        if (visible && place.contains(pointInRow)) return row.FindCell(shape->cells[i].name);
    }
    for (const auto& cell : row.cells_)
        if (cell->templateIndex_ < 0 && cell->visible_ && cell->place_ && cell->place_->contains(pointInRow))
            return cell.get();
    return nullptr;
}

CListCellUI* CListUI::ButtonCellAt(const QPoint& pointInViewport, CListElementUI** rowOut) const {
    QModelIndex index = indexAt(pointInViewport);
    CListElementUI* row = index.isValid() ? GetItemAt(index.row()) : nullptr;
    if (!row) return nullptr;
    CListCellUI* cell = CellAt(*row, pointInViewport - visualRect(index).topLeft());
    if (!cell || cell->GetKind() != CListCellUI::Kind::kButton || !cell->IsEnabled()) return nullptr;
    if (rowOut) *rowOut = row;
    return cell;
}

bool CListUI::Add(std::unique_ptr<CListElementUI> row) { return AddAt(std::move(row), GetCount()); }

bool CListUI::AddAt(std::unique_ptr<CListElementUI> row, int index) {
    if (!row || row->owner_ || index < 0 || index > GetCount()) return false;
    row->owner_ = this;
    CListElementUI* raw = row.get();
    model_->Insert(index, std::move(row));
    Reindex(index);
    if (!raw->IsVisible()) setRowHidden(index, true);
    if (RowHeightOf(*raw) != rowHeight_) setUniformItemSizes(false);
    return true;
}

void CListUI::AddRange(std::vector<std::unique_ptr<CListElementUI>> rows) {
    const int first = GetCount();
    std::vector<std::unique_ptr<CListElementUI>> accepted;
    accepted.reserve(rows.size());
    for (auto& row : rows) {
        if (!row || row->owner_) continue;
        row->owner_ = this;
        accepted.push_back(std::move(row));
    }
    bool uniform = uniformItemSizes();
    for (const auto& row : accepted) uniform = uniform && RowHeightOf(*row) == rowHeight_;
    if (!uniform) setUniformItemSizes(false);
    model_->Append(accepted);
    Reindex(first);
    for (int i = first; i < GetCount(); ++i)
        if (!model_->rows[i]->IsVisible()) setRowHidden(i, true);
}

bool CListUI::Remove(CListElementUI* row) { return row && row->owner_ == this && RemoveAt(row->index_); }

bool CListUI::RemoveAt(int index) { return RemoveRange(index, 1); }

bool CListUI::RemoveRange(int first, int count) {
    if (first < 0 || count < 1 || first > GetCount() - count) return false;
    model_->Erase(first, count);
    Reindex(first);
    return true;
}

void CListUI::RemoveAll() {
    model_->Clear();
    lastSelection_ = -1;
}

int CListUI::GetCount() const { return static_cast<int>(model_->rows.size()); }

CListElementUI* CListUI::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return model_->rows[index].get();
}

int CListUI::GetItemIndex(const CListElementUI* row) const {
    return row && row->owner_ == this ? row->index_ : -1;
}

int CListUI::GetCurSel() const {
    QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

bool CListUI::SelectItem(int index) {
    CListElementUI* row = GetItemAt(index);
    if (!row || !row->IsVisible() || !row->IsEnabled()) return false;
    QModelIndex at = model_->index(index);
    setCurrentIndex(at);
    scrollTo(at);
    return true;
}

void CListUI::EnsureVisible(int index) {
    if (index >= 0 && index < GetCount()) scrollTo(model_->index(index));
}

void CListUI::OnCellButtonDown(CListElementUI& row, CListCellUI& cell) {
    if (GetManager()) GetManager()->SendNotify(&cell, notify::kButtonDown, static_cast<std::uintptr_t>(row.index_));
}

void CListUI::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    viewport()->update();
}

void CListUI::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    CListElementUI* row = nullptr;
    if (buttonsTakeClicks_ && event->button() == Qt::LeftButton) {
        if (CListCellUI* cell = ButtonCellAt(at, &row)) {
            pressOnButton_ = true;
            event->accept();
            OnCellButtonDown(*row, *cell);
            return;
        }
    }
    pressOnButton_ = false;
    QListView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton) return;
    if (CListCellUI* cell = ButtonCellAt(at, &row)) OnCellButtonDown(*row, *cell);
}

void CListUI::mouseMoveEvent(QMouseEvent* event) {
    if (pressOnButton_ && (event->buttons() & Qt::LeftButton)) {
        event->accept();
        return;
    }
    QListView::mouseMoveEvent(event);
}

void CListUI::mouseReleaseEvent(QMouseEvent* event) {
    if (pressOnButton_) {
        pressOnButton_ = false;
        event->accept();
        return;
    }
    QListView::mouseReleaseEvent(event);
}

void CListUI::mouseDoubleClickEvent(QMouseEvent* event) {
    CListElementUI* row = nullptr;
    if (buttonsTakeClicks_ && event->button() == Qt::LeftButton) {
        // The second press of a double click on a button is one more press of it.
        if (CListCellUI* cell = ButtonCellAt(event->position().toPoint(), &row)) {
            pressOnButton_ = true;
            event->accept();
            OnCellButtonDown(*row, *cell);
            return;
        }
    }
    QListView::mouseDoubleClickEvent(event);
}

void CListUI::RowChanged(const CListElementUI& row) {
    if (row.index_ >= 0 && row.index_ < GetCount()) viewport()->update(visualRect(model_->index(row.index_)));
}

void CListUI::RowHeightChanged(const CListElementUI& row) {
    if (RowHeightOf(row) != rowHeight_) setUniformItemSizes(false);
    scheduleDelayedItemsLayout();
}

void CListUI::VisibilityChanged(const CListElementUI& row) {
    if (row.index_ >= 0 && row.index_ < GetCount()) setRowHidden(row.index_, !row.IsVisible());
}

void CListUI::Reindex(int from) {
    for (int i = std::max(0, from); i < GetCount(); ++i) model_->rows[i]->index_ = i;
}

}  // namespace ui
