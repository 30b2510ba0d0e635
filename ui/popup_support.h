#pragma once
// What the pop-up menu and the pickers share: where they go on the screen, and
// closing when the focus leaves them for another window.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <functional>
#include <vector>

#include "platform/window_handles.h"

class QWindow;

namespace ui {

class CControlUI;
class WindowImplBase;

// The top-left corner for a pop-up of `size` placed at `at`, moved up and left to stay
// inside `workArea`: its bottom (right) edge on the area's when it would reach past
// it, or the area's top (left) edge when the pop-up is not smaller than the area.
QPoint PlaceInWorkArea(const QPoint& at, const QSize& size, const QRect& workArea);
// The top-left corner for a pop-up of `size` whose visible part is its rectangle inset
// by `inset` (a shadow around it), opened from a button at `anchor`: the visible part
// starts under the button, left edges together, moved left as far as needed to end at
// `window`'s right edge (never past its left edge); above the button when the work
// area has no room below it; then kept inside the work area.
QPoint PlaceUnder(const QRect& anchor, const QSize& size, int inset, const QRect& window, const QRect& workArea);
// The work area of the screen that holds the point; the primary screen's when none does.
QRect WorkAreaAt(const QPoint& point);

// The window handle of the window that shows a control (rows: their list's window); 0
// when it has none.
platform::WindowHandle WindowHandleOf(CControlUI* control);

// Calls `close` once the focus has reached `window` and then moves to a window that is
// neither `window` nor one of `companions`; focus moving to a companion is given back
// to `window`.
class FocusLossWatcher final : public QObject {
public:
    FocusLossWatcher(QWidget* window, std::vector<QWidget*> companions, std::function<void()> close);

private:
    void FocusChanged(QWindow* now);
    QPointer<QWidget> window_;
    std::vector<QPointer<QWidget>> companions_;
    std::function<void()> close_;
    bool hadFocus_ = false;
};

}  // namespace ui
