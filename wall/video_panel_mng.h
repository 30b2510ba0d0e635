#pragma once
// The video wall: 64 cells, each the display window of the camera shown in it, laid
// out in one of the supported layouts, with a red selection frame, drag-to-swap,
// full screen and the per-cell toolbar. Window work runs on the user-interface
// thread; the cells' rows are guarded by one lock because task threads read them.
//
// The main window's side of the contract:
//  - create the wall as its child with the main window's handle (toolbar requests and
//    the hover message 102 go there), then SetLayout as the user chooses;
//  - on 102 call ShowToolbar(wParam); after talk or record state changes ShowToolbar(99);
//  - to open a camera: FindFreeCell(index = 0, window), SetCellEntry(index, row), post
//    the open request with the cell's window; to close: FindCellByCameraId, ClearCell;
//  - SetCaption shows status texts in a cell.

#include <QSize>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "control/control_types.h"
#include "media/video_output_widget.h"
#include "platform/window_handles.h"
#include "wall/layout_geometry.h"

namespace wall {

class CVideoPanelMng;
class CWinSub;

// One cell: a video window that also paints its caption and reports the mouse.
class MyVideoPanel : public media::VideoOutputWidget {
public:
    static constexpr int kFirstControlId = 3000;

    MyVideoPanel(CVideoPanelMng& wall, QWidget* parent);

    int Index() const { return index_; }
    int ControlId() const { return kFirstControlId + index_; }
    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption, bool repaint);

    // The caption, centred over the picture on either display path.
    bool HasOverlay() const override { return !caption_.isEmpty(); }
    void PaintOverlay(QPainter& painter, const QRect& area) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    friend class CVideoPanelMng;
    CVideoPanelMng& wall_;
    int index_ = -1;
    QString caption_;
    bool tracking_ = false;
    control::ItemPtr row_;  // under the wall's cells lock
};

// The selection frame: one red pixel around the selected cell, see-through inside.
class MyRectCon : public QWidget {
public:
    explicit MyRectCon(QWidget* parent);
    void Frame(const CellBox& outer);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// What the wall asks of the rest of the program. The program installs its own at
// start-up (the camera registry, the reconnection table, the primary screen).
struct WallEnvironment {
    // Two cells traded places: their cameras change cell index.
    std::function<void(int from, int to)> cellsSwapped;
    std::function<QSize()> screenSize;
    // The picture size last announced by the camera shown in a cell (0 × 0: none).
    std::function<QSize(int cell, const std::string& cameraId)> pictureSize;

    // The installed environment; before one is installed, one that only knows the
    // primary screen.
    static WallEnvironment Application();
    static void InstallApplication(WallEnvironment environment);
};

class CVideoPanelMng : public QWidget {
public:
    static const QColor kBackground;
    static const QColor kCellBackground;

    explicit CVideoPanelMng(platform::WindowHandle mainWindow, QWidget* parent = nullptr,
                            WallEnvironment environment = WallEnvironment::Application());
    ~CVideoPanelMng() override;

    platform::WindowHandle Handle() const { return handle_; }
    void SetMainWindow(platform::WindowHandle window) { mainWindow_ = window; }

    // Unsupported counts are ignored; the same count without `force` moves nothing
    // but still re-selects, re-places the toolbar and repaints.
    void SetLayout(int count, bool force = false);
    int Layout() const { return count_; }
    // The cell's normal place; index above 63 means the selected cell.
    std::optional<CellBox> CellRect(int index) const;
    void Select(int index);
    int Selected() const { return selected_; }
    void FullScreen(bool on);
    void FullScreenCell(bool on, int index);
    bool IsFullScreen() const { return fullScreen_; }

    // Any thread. With index 0 or below: the first cell without a live camera, growing
    // the layout when that cell lies beyond it. With an index above 0: that cell.
    bool FindFreeCell(int& index, platform::WindowHandle& window, control::ItemPtr* row = nullptr);
    // Whether FindFreeCell(0) would find a cell (any of the 64 without a live camera).
    bool HasFreeCell() const;
    int FindCellByCameraId(const std::string& cameraId) const;
    // On the user-interface thread the strip over that cell follows at once (a cell
    // emptied keeps no toolbar).
    void SetCellEntry(int index, control::ItemPtr row);
    control::ItemPtr CellEntry(int index) const;
    platform::WindowHandle CellWindow(int index) const;
    // Clears the row's live mark and the caption.
    void ClearCell(int index);
    void SetCaption(int index, const std::string& text, bool repaint);

    void ShowToolbar(int index);
    int ToolbarCell() const { return toolbarCell_; }
    CWinSub* Toolbar() const { return toolbar_.get(); }
    // Finishes a drag from the cell where the button went down.
    void SwapCells(int target);
    // The cell where the left button went down, or -1 (none, or the second press of a
    // double-click, which starts no drag).
    int DragSource() const { return dragSource_; }

    MyVideoPanel* Cell(int index) const;
    // Where the frame is drawn (empty when none).
    std::optional<CellBox> SelectionFrame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class MyVideoPanel;
    void OnCellButtonDown(int index);
    void OnCellButtonUp(const QPoint& globalPos);
    void OnCellDoubleClick();
    void OnCellHover(int index);
    std::intptr_t OnMessage(platform::Message& message);

    bool InLayout(int index) const;
    // The toolbar of `index` shows the cell as it is now (on the window's thread only).
    void RefreshToolbarOf(int index);
    int UsableWidth() const { return width() - 2; }
    int UsableHeight() const { return height() - 2; }
    void PlaceNormal(int count);
    void PlaceFullScreen();
    void EnterFullScreen();
    void LeaveFullScreen();
    void DrawFrame();
    static void Place(QWidget* widget, const CellBox& box);

    WallEnvironment environment_;
    platform::WindowHandle mainWindow_ = 0;
    platform::WindowHandle handle_ = 0;
    std::array<MyVideoPanel*, kCellCount> cells_{};  // owned by Qt; swapped under cellsMutex_
    mutable std::mutex cellsMutex_;  // nothing called under it takes it again
    MyRectCon* frameWidget_ = nullptr;
    std::unique_ptr<CWinSub> toolbar_;

    int count_ = -1;
    int selected_ = 0;
    int shownCell_ = 0;  // the cell of layout 1
    int toolbarCell_ = -1;
    int dragSource_ = -1;
    bool fullScreen_ = false;
    int singleCell_ = -1;  // the cell alone on the screen, or -1
    QRect savedTopLevel_;
    bool savedMaximized_ = false;
    QRect savedWall_;
    std::optional<CellBox> frame_;
};

}  // namespace wall
