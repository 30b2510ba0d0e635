#include "wall/video_panel_mng.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QThread>

#include "core/message_ids.h"
#include "core/locked.h"
#include "core/log_file.h"
#include "ui/toolkit/ui_executor.h"
#include "wall/win_sub.h"

namespace wall {

const QColor CVideoPanelMng::kBackground{37, 37, 37};
const QColor CVideoPanelMng::kCellBackground{56, 60, 61};

// ---- MyVideoPanel ----

MyVideoPanel::MyVideoPanel(CVideoPanelMng& wall, QWidget* parent) : media::VideoOutputWidget(parent), wall_(wall) {
    setCursor(Qt::ArrowCursor);
    setMouseTracking(true);
    SetBackground(CVideoPanelMng::kCellBackground);
}

void MyVideoPanel::SetCaption(const QString& caption, bool repaint) {
    caption_ = caption;
    OverlayChanged(repaint);
}

void MyVideoPanel::PaintOverlay(QPainter& painter, const QRect& area) {
    if (caption_.isEmpty()) return;
    // Sized to the cell so that it reads on a wall of many cells too; shrunk (not below
    // the minimum) until it fits, elided only beyond that.
    QFont font = painter.font();
    const int margin = 4;
    const int room = std::max(1, area.width() - 4 * margin);
    int pixels = CaptionPixelSize(area.width(), area.height());
    font.setPixelSize(pixels);
    while (pixels > kMinCaptionPixels && QFontMetrics(font).horizontalAdvance(caption_) > room)
        font.setPixelSize(--pixels);
    const QFontMetrics metrics(font);
    const QString text = metrics.elidedText(caption_, Qt::ElideRight, room);
    // A dark band behind the text keeps it readable over a bright picture.
    QRect band(0, 0, metrics.horizontalAdvance(text) + 2 * margin, metrics.height() + margin);
    band.moveCenter(area.center());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 150));
    painter.drawRoundedRect(band, 3, 3);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(area, Qt::AlignCenter | Qt::TextSingleLine, text);
    painter.restore();
}

void MyVideoPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) wall_.OnCellButtonDown(index_);
}

void MyVideoPanel::mouseReleaseEvent(QMouseEvent* event) {
    // Qt gives the release to the cell where the press was; the drop target is the
    // cell under the mouse.
    if (event->button() == Qt::LeftButton) wall_.OnCellButtonUp(event->globalPosition().toPoint());
}

void MyVideoPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) wall_.OnCellDoubleClick();
}

void MyVideoPanel::mouseMoveEvent(QMouseEvent*) {
    // The first move over the cell counts as the hover (a hover time of 1 ms).
    if (tracking_) return;
    tracking_ = true;
    wall_.OnCellHover(index_);
}

void MyVideoPanel::leaveEvent(QEvent*) { tracking_ = false; }

// ---- MyRectCon ----

MyRectCon::MyRectCon(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void MyRectCon::Frame(const CellBox& outer) {
    setGeometry(outer.left, outer.top, outer.Width(), outer.Height());
    // Only the one-pixel border belongs to the widget, so the cell stays visible.
    setMask(QRegion(rect()).subtracted(QRegion(rect().adjusted(1, 1, -1, -1))));
    show();
    raise();
}

void MyRectCon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 0, 0));
}

// ---- environment ----

namespace {

core::Locked<WallEnvironment>& InstalledEnvironment() {
    static core::Locked<WallEnvironment> installed{[] {
        WallEnvironment screenOnly;
        screenOnly.screenSize = [] {
            const QScreen* screen = QGuiApplication::primaryScreen();
            return screen ? screen->geometry().size() : QSize(1024, 768);
        };
        return screenOnly;
    }()};
    return installed;
}

}  // namespace

WallEnvironment WallEnvironment::Application() { return InstalledEnvironment().Get(); }

void WallEnvironment::InstallApplication(WallEnvironment environment) { InstalledEnvironment().Set(std::move(environment)); }

// ---- CVideoPanelMng ----

CVideoPanelMng::CVideoPanelMng(platform::WindowHandle mainWindow, QWidget* parent, WallEnvironment environment)
    : QWidget(parent), environment_(std::move(environment)), mainWindow_(mainWindow) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(806, 407);
    for (int i = 0; i < kCellCount; ++i) {
        auto* cell = new MyVideoPanel(*this, this);
        cell->index_ = i;
        cell->setGeometry(10, 10, 320, 240);
        cell->hide();
        cells_[i] = cell;
    }
    frameWidget_ = new MyRectCon(this);
    handle_ = platform::CreateWindowHandle([this](platform::Message& m) { return OnMessage(m); }, ui::UiExecutor());
    toolbar_ = std::make_unique<CWinSub>(mainWindow_, environment_.pictureSize);
    if (toolbar_->Create(0, "")) {
        QWidget* strip = toolbar_->GetWidget();
        strip->setParent(this, Qt::Widget);
        strip->hide();
    }
    SetLayout(4, false);
}

CVideoPanelMng::~CVideoPanelMng() {
    platform::DestroyWindowHandle(handle_);
    toolbar_.reset();
}

std::intptr_t CVideoPanelMng::OnMessage(platform::Message& message) {
    // The hover notice goes on unchanged to the main window, which places the toolbar.
    if (message.id == core::kCellHover) platform::PostWindowMessage(mainWindow_, std::move(message));
    return 0;
}

MyVideoPanel* CVideoPanelMng::Cell(int index) const {
    std::lock_guard lock(cellsMutex_);
    return index >= 0 && index < kCellCount ? cells_[index] : nullptr;
}

bool CVideoPanelMng::InLayout(int index) const {
    if (index < 0 || index >= kCellCount) return false;
    return count_ == 1 ? index == shownCell_ : index < count_;
}

void CVideoPanelMng::Place(QWidget* widget, const CellBox& box) {
    widget->setGeometry(box.left, box.top, box.Width(), box.Height());
}

void CVideoPanelMng::PlaceNormal(int count) {
    for (int i = 0; i < kCellCount; ++i) {
        auto box = NormalCellBox(count, i, UsableWidth(), UsableHeight(), shownCell_);
        if (box) {
            Place(cells_[i], *box);
            cells_[i]->show();
        } else {
            cells_[i]->hide();
        }
    }
}

void CVideoPanelMng::PlaceFullScreen() {
    const QSize screen = environment_.screenSize();
    if (singleCell_ >= 0) {
        for (int i = 0; i < kCellCount; ++i) cells_[i]->setVisible(i == singleCell_);
        Place(cells_[singleCell_], SingleCellFullScreenBox(screen.width(), screen.height()));
        return;
    }
    for (int i = 0; i < kCellCount; ++i) {
        auto box = FullScreenCellBox(count_, i, screen.width(), screen.height(), shownCell_);
        if (box) {
            Place(cells_[i], *box);
            cells_[i]->show();
        } else {
            cells_[i]->hide();
        }
    }
}

void CVideoPanelMng::SetLayout(int count, bool force) {
    if (!IsSupportedLayout(count)) return;
    if (count != count_ || force) {
        if (count == 1) shownCell_ = selected_;
        count_ = count;
        if (fullScreen_) PlaceFullScreen();
        else PlaceNormal(count);
    }
    // A selection outside the layout goes back to the first cell (in layout 1 the
    // shown cell is the selection).
    if (count_ != 1 && selected_ >= count_) selected_ = 0;
    ShowToolbar(kLastToolbarCell);
    update();
    DrawFrame();
}

std::optional<CellBox> CVideoPanelMng::CellRect(int index) const {
    if (index > kCellCount - 1) index = selected_;
    return NormalCellBox(count_, index, UsableWidth(), UsableHeight(), shownCell_);
}

void CVideoPanelMng::Select(int index) {
    if (index < 0 || index >= kCellCount) return;
    selected_ = index;
    DrawFrame();
}

void CVideoPanelMng::DrawFrame() {
    if (fullScreen_) {
        frameWidget_->hide();
        frame_.reset();
        return;
    }
    auto box = CellRect(selected_);
    if (!box) return;  // keeps the previous frame
    const CellBox outer{box->left - 1, box->top - 1, box->right + 1, box->bottom + 1};
    frame_ = outer;
    frameWidget_->Frame(outer);
}

void CVideoPanelMng::EnterFullScreen() {
    fullScreen_ = true;
    QWidget* top = window();
    // A maximised window keeps its normal placement apart and is maximised again on
    // the way back.
    savedMaximized_ = top->isMaximized();
    savedTopLevel_ = savedMaximized_ ? top->normalGeometry() : top->geometry();
    savedWall_ = geometry();
    const QSize screen = environment_.screenSize();
    if (top->isMaximized() || top->isFullScreen()) top->showNormal();
    top->setGeometry(0, 0, screen.width(), screen.height());
    if (top != this) {
        setGeometry(0, 0, screen.width(), screen.height());
        raise();
    }
    PlaceFullScreen();
    frameWidget_->hide();
    frame_.reset();
    if (toolbar_ && toolbar_->GetWidget()) toolbar_->GetWidget()->hide();
}

void CVideoPanelMng::LeaveFullScreen() {
    fullScreen_ = false;
    singleCell_ = -1;
    QWidget* top = window();
    top->setGeometry(savedTopLevel_);
    if (savedMaximized_) top->showMaximized();
    savedMaximized_ = false;
    if (top != this) setGeometry(savedWall_);
    SetLayout(count_, true);
}

void CVideoPanelMng::FullScreen(bool on) {
    if (on && !fullScreen_) EnterFullScreen();
    else if (!on && fullScreen_) LeaveFullScreen();
    core::LogWrite("CVideoPanelMng::M_FullScreen.end....now(%d)...\n", selected_);
}

void CVideoPanelMng::FullScreenCell(bool on, int index) {
    if (on && !fullScreen_) {
        if (index < 0 || index >= kCellCount) return;
        singleCell_ = index;
        EnterFullScreen();
    } else if (!on && fullScreen_) {
        LeaveFullScreen();
    }
}

bool CVideoPanelMng::FindFreeCell(int& index, platform::WindowHandle& window, control::ItemPtr* row) {
    std::unique_lock lock(cellsMutex_);
    if (index > 0) {
        if (index >= kCellCount) return false;
        if (cells_[index]->row_) {
            window = cells_[index]->Handle();
            if (row) *row = cells_[index]->row_;
        }
        return true;
    }
    for (int i = 0; i < kCellCount; ++i) {
        const auto& entry = cells_[i]->row_;
        if (entry && entry->live) continue;
        index = i;
        window = cells_[i]->Handle();
        if (row) *row = entry;
        const bool beyond = count_ == 1 ? i != shownCell_ && i >= 1 : i >= count_;
        if (beyond) {
            int grown = NextSquareLayout(count_);
            while (grown <= i) grown = NextSquareLayout(grown);
            lock.unlock();
            // Windows move on their own thread only.
            if (QThread::currentThread() == thread()) SetLayout(grown, false);
            else QMetaObject::invokeMethod(this, [this, grown] { SetLayout(grown, false); }, Qt::QueuedConnection);
        }
        return true;
    }
    return false;
}

bool CVideoPanelMng::HasFreeCell() const {
    std::lock_guard lock(cellsMutex_);
    for (const MyVideoPanel* cell : cells_)
        if (!cell->row_ || !cell->row_->live) return true;
    return false;
}

int CVideoPanelMng::FindCellByCameraId(const std::string& cameraId) const {
    std::lock_guard lock(cellsMutex_);
    for (int i = 0; i < kCellCount; ++i)
        if (cells_[i]->row_ && cells_[i]->row_->id == cameraId) return i;
    return -1;
}

void CVideoPanelMng::SetCellEntry(int index, control::ItemPtr row) {
    {
        std::lock_guard lock(cellsMutex_);
        if (index < 0 || index >= kCellCount) return;
        cells_[index]->row_ = std::move(row);
    }
    RefreshToolbarOf(index);
}

void CVideoPanelMng::RefreshToolbarOf(int index) {
    if (index != toolbarCell_ || QThread::currentThread() != thread()) return;
    ShowToolbar(index);
}

control::ItemPtr CVideoPanelMng::CellEntry(int index) const {
    std::lock_guard lock(cellsMutex_);
    if (index < 0 || index >= kCellCount) return nullptr;
    return cells_[index]->row_;
}

platform::WindowHandle CVideoPanelMng::CellWindow(int index) const {
    std::lock_guard lock(cellsMutex_);
    return index >= 0 && index < kCellCount ? cells_[index]->Handle() : 0;
}

void CVideoPanelMng::ClearCell(int index) {
    MyVideoPanel* cell = nullptr;
    {
        std::lock_guard lock(cellsMutex_);
        if (index < 0 || index >= kCellCount) return;
        cell = cells_[index];
        if (cell->row_) cell->row_->live = false;
    }
    cell->SetCaption(QString(), false);
    RefreshToolbarOf(index);
}

void CVideoPanelMng::SetCaption(int index, const std::string& text, bool repaint) {
    if (MyVideoPanel* cell = Cell(index)) cell->SetCaption(QString::fromStdString(text), repaint);
}

void CVideoPanelMng::ShowToolbar(int index) {
    if (index == kLastToolbarCell) index = toolbarCell_;
    if (!toolbar_ || !toolbar_->GetWidget()) return;
    QWidget* strip = toolbar_->GetWidget();
    if (fullScreen_ || !InLayout(index)) {
        strip->hide();
        return;
    }
    MyVideoPanel* cell = cells_[index];
    const QRect g = cell->geometry();
    Place(strip, ToolbarBox(CellBox{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()}));
    strip->raise();
    toolbar_->Refresh(index, CellEntry(index));
    if (!cell->isVisible()) strip->hide();
    toolbarCell_ = index;
}

void CVideoPanelMng::SwapCells(int target) {
    const int source = dragSource_;
    if (fullScreen_ || source == target || source < 0 || source >= kCellCount || target < 0 || target >= kCellCount)
        return;
    {
        std::lock_guard lock(cellsMutex_);
        std::swap(cells_[source], cells_[target]);
        cells_[source]->index_ = source;
        cells_[target]->index_ = target;
    }
    if (environment_.cellsSwapped) environment_.cellsSwapped(source, target);
    SetLayout(count_, true);
}

void CVideoPanelMng::OnCellButtonDown(int index) {
    dragSource_ = index;
    selected_ = index;
    if (!fullScreen_) DrawFrame();
}

void CVideoPanelMng::OnCellButtonUp(const QPoint& globalPos) {
    if (dragSource_ < 0) return;  // no drag (the press was the second of a double-click)
    QWidget* under = childAt(mapFromGlobal(globalPos));
    while (under && under->parentWidget() != this) under = under->parentWidget();
    if (auto* cell = dynamic_cast<MyVideoPanel*>(under)) SwapCells(cell->Index());
}

void CVideoPanelMng::OnCellDoubleClick() {
    // The release that follows lands on whatever cell the new layout puts under the
    // pointer: it ends the double-click, not a drag.
    dragSource_ = -1;
    FullScreen(!fullScreen_);
}

void CVideoPanelMng::OnCellHover(int index) {
    platform::PostWindowMessage(handle_, platform::Message(core::kCellHover, static_cast<std::uintptr_t>(index), 0));
}

void CVideoPanelMng::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
}

void CVideoPanelMng::resizeEvent(QResizeEvent*) {
    if (count_ < 0) return;
    if (fullScreen_) PlaceFullScreen();
    else SetLayout(count_, true);
}

}  // namespace wall
