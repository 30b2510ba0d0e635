#include "ui/popup_support.h"

#include <QGuiApplication>
#include <algorithm>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include "ui/toolkit/control.h"
#include "ui/toolkit/window.h"

namespace ui {

QPoint PlaceInWorkArea(const QPoint& at, const QSize& size, const QRect& area) {
    QPoint place = at;
    if (place.y() + size.height() - 1 > area.bottom())
        place.setY(size.height() < area.height() ? area.bottom() - size.height() + 1 : area.top());
    if (place.x() + size.width() - 1 > area.right())
        place.setX(size.width() < area.width() ? area.right() - size.width() + 1 : area.left());
    return place;
}

QPoint PlaceUnder(const QRect& anchor, const QSize& size, int inset, const QRect& window, const QRect& area) {
    constexpr int kGap = 2;
    const QSize shown = size - QSize(2 * inset, 2 * inset);
    int left = anchor.left();
    if (!window.isEmpty()) {
        if (left + shown.width() - 1 > window.right()) left = window.right() - shown.width() + 1;
        left = std::max(left, window.left());
    }
    int top = anchor.bottom() + 1 + kGap;
    if (top + shown.height() - 1 > area.bottom() && anchor.top() - kGap - shown.height() >= area.top())
        top = anchor.top() - kGap - shown.height();
    return PlaceInWorkArea(QPoint(left - inset, top - inset), size, area.adjusted(-inset, -inset, inset, inset));
}

QRect WorkAreaAt(const QPoint& point) {
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
}

platform::WindowHandle WindowHandleOf(CControlUI* control) {
    for (CControlUI* at = control; at; at = at->GetParent()) {
        QWidget* widget = at->GetWidget();
        if (!widget) continue;
        auto* host = dynamic_cast<WindowHost*>(widget->window());
        return host ? host->Window().GetHWND() : 0;
    }
    return 0;
}

FocusLossWatcher::FocusLossWatcher(QWidget* window, std::vector<QWidget*> companions, std::function<void()> close)
    : QObject(window), window_(window), close_(std::move(close)) {
    for (QWidget* companion : companions) companions_.emplace_back(companion);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* now) { FocusChanged(now); });
}

void FocusLossWatcher::FocusChanged(QWindow* now) {
    if (!window_) return;
    QWindow* mine = window_->windowHandle();
    if (now && now == mine) {
        hadFocus_ = true;
        return;
    }
    if (!hadFocus_) return;
    for (const auto& companion : companions_) {
        if (companion && now && companion->windowHandle() == now) {
            window_->activateWindow();
            return;
        }
    }
    hadFocus_ = false;
    if (close_) close_();
}

}  // namespace ui
