#include "ui/toolkit/list.h"

#include <QAbstractListModel>
#include <QFile>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "app/log_file.h"
#include "platform/paths.h"
#include "ui/toolkit/paint_manager.h"
#include "ui/toolkit/window.h"

namespace ui {

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
    if (attr == bkImageText_) return;
    CControlUI::SetBkImage(attr);
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
    indent_ = std::max(0, pixels);
    Invalidate();
}

CListCellUI* CListElementUI::FindCell(const std::string& name) const {
    for (const auto& cell : cells_)
        if (cell->GetName() == name) return cell.get();
    return nullptr;
}

CListCellUI* CListElementUI::Cell(const std::string& name) {
    if (CListCellUI* cell = FindCell(name)) return cell;
    return AddCell(name, CListCellUI::Kind::kLabel);
}

CListCellUI* CListElementUI::AddCell(std::string name, CListCellUI::Kind kind) {
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
    void Erase(int at) {
        beginRemoveRows({}, at, at);
        rows.erase(rows.begin() + at);
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

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {list_.viewport()->width(), list_.rowHeight_};
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

        const QColor text = row->IsEnabled() ? pal.color(QPalette::Text) : pal.color(QPalette::PlaceholderText);
        if (list_.cells_.empty()) {
            painter->setPen(text);
            painter->drawText(r.adjusted(6 + row->GetIndent(), 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                              QString::fromStdString(row->GetText()));
            return;
        }
        for (const auto& cell : row->Cells()) {
            if (!cell->IsVisible()) continue;
            const TemplateCell* shape = list_.TemplateCellOf(cell->GetName());
            if (!shape) continue;
            QRect place = shape->rect.translated(r.left() + row->GetIndent(), r.top());
            if (place.left() >= r.right()) continue;
            place.setRight(std::min(place.right(), r.right()));
            PaintImage(*painter, place, cell->BkImage());
            if (cell->GetText().empty()) continue;
            painter->setPen(cell->IsEnabled() ? text : pal.color(QPalette::PlaceholderText));
            const QString label = painter->fontMetrics().elidedText(QString::fromStdString(cell->GetText()),
                                                                   Qt::ElideRight, place.width());
            painter->drawText(place, static_cast<int>(shape->align), label);
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

bool CListUI::SetRowTemplate(const std::string& skinFile) {
    QFile file(QString::fromStdString(platform::JoinPath(CPaintManagerUI::GetResourcePath(), skinFile)));
    if (!file.open(QIODevice::ReadOnly)) {
        app::LogWrite("item template missing: %s", skinFile.c_str());
        return false;
    }
    std::string error;
    std::unique_ptr<QWidget> root(LoadSkinWidget(file.readAll(), nullptr, nullptr, error));
    if (!root) {
        app::LogWrite("item template unreadable: %s (%s)", skinFile.c_str(), error.c_str());
        return false;
    }
    root->setAttribute(Qt::WA_DontShowOnScreen);
    rowHeight_ = std::max(1, root->height());
    template_ = std::move(root);
    LayoutTemplate();
    return true;
}

const CListUI::TemplateCell* CListUI::TemplateCellOf(const std::string& name) const {
    for (const TemplateCell& cell : cells_)
        if (cell.name == name) return &cell;
    return nullptr;
}

void CListUI::LayoutTemplate() {
    if (!template_) return;
    template_->resize(std::max(viewport()->width(), template_->minimumWidth()), rowHeight_);
    if (QLayout* layout = template_->layout()) {
        layout->invalidate();
        layout->activate();
    }
    std::vector<TemplateCell> cells;
    for (QWidget* widget : template_->findChildren<QWidget*>()) {
        const std::string name = widget->objectName().toStdString();
        if (name.empty() || name.rfind("qt_", 0) == 0) continue;
        TemplateCell cell;
        cell.name = name;
        cell.rect = QRect(widget->mapTo(template_.get(), QPoint()), widget->size());
        cell.visible = !widget->isHidden();
        cell.align = Qt::AlignVCenter | Qt::AlignLeft;
        cell.image = widget->property("bkimage").toString().toStdString();
        if (auto* button = dynamic_cast<CButtonUI*>(widget)) {
            cell.kind = CListCellUI::Kind::kButton;
            cell.text = button->GetText();
            cell.align = Qt::AlignCenter;
            if (cell.image.empty()) cell.image = widget->property("normalimage").toString().toStdString();
        } else if (auto* label = dynamic_cast<CLabelUI*>(widget)) {
            cell.kind = CListCellUI::Kind::kLabel;
            cell.text = label->GetText();
            cell.align = label->alignment();
        } else {
            cell.kind = CListCellUI::Kind::kImage;
        }
        cells.push_back(std::move(cell));
    }
    cells_ = std::move(cells);
    viewport()->update();
}

std::unique_ptr<CListElementUI> CListUI::CreateElement() const {
    auto row = std::make_unique<CListElementUI>();
    for (const TemplateCell& shape : cells_) {
        CListCellUI* cell = row->AddCell(shape.name, shape.kind);
        cell->SetText(shape.text);
        cell->SetBkImage(shape.image);
        cell->SetVisible(shape.visible);
    }
    return row;
}

QRect CListUI::CellRect(const CListElementUI& row, const CListCellUI& cell) const {
    const TemplateCell* shape = TemplateCellOf(cell.GetName());
    if (!shape || row.owner_ != this) return {};
    QRect place = visualRect(model_->index(row.index_));
    if (!place.isValid()) return {};
    return shape->rect.translated(place.left() + row.GetIndent(), place.top());
}

CListCellUI* CListUI::CellAt(const CListElementUI& row, const QPoint& pointInRow) const {
    for (const auto& cell : row.Cells()) {
        const TemplateCell* shape = TemplateCellOf(cell->GetName());
        if (shape && cell->IsVisible() && shape->rect.translated(row.GetIndent(), 0).contains(pointInRow))
            return cell.get();
    }
    return nullptr;
}

bool CListUI::Add(std::unique_ptr<CListElementUI> row) { return AddAt(std::move(row), GetCount()); }

bool CListUI::AddAt(std::unique_ptr<CListElementUI> row, int index) {
    if (!row || row->owner_ || index < 0 || index > GetCount()) return false;
    row->owner_ = this;
    CListElementUI* raw = row.get();
    model_->Insert(index, std::move(row));
    Reindex(index);
    if (!raw->IsVisible()) setRowHidden(index, true);
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
    model_->Append(accepted);
    Reindex(first);
    for (int i = first; i < GetCount(); ++i)
        if (!model_->rows[i]->IsVisible()) setRowHidden(i, true);
}

bool CListUI::Remove(CListElementUI* row) { return row && row->owner_ == this && RemoveAt(row->index_); }

bool CListUI::RemoveAt(int index) {
    if (index < 0 || index >= GetCount()) return false;
    model_->Erase(index);
    Reindex(index);
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
    LayoutTemplate();
}

void CListUI::mousePressEvent(QMouseEvent* event) {
    QListView::mousePressEvent(event);
    const QPoint at = event->position().toPoint();
    QModelIndex index = indexAt(at);
    CListElementUI* row = index.isValid() ? GetItemAt(index.row()) : nullptr;
    if (!row || event->button() != Qt::LeftButton) return;
    const QRect place = visualRect(index);
    CListCellUI* cell = CellAt(*row, at - place.topLeft());
    if (cell && cell->GetKind() == CListCellUI::Kind::kButton && cell->IsEnabled()) OnCellButtonDown(*row, *cell);
}

void CListUI::RowChanged(const CListElementUI& row) {
    if (row.index_ >= 0 && row.index_ < GetCount()) viewport()->update(visualRect(model_->index(row.index_)));
}

void CListUI::VisibilityChanged(const CListElementUI& row) {
    if (row.index_ >= 0 && row.index_ < GetCount()) setRowHidden(row.index_, !row.IsVisible());
}

void CListUI::Reindex(int from) {
    for (int i = std::max(0, from); i < GetCount(); ++i) model_->rows[i]->index_ = i;
}

}  // namespace ui
