#pragma once
// The pop-up menu (used by the alarm panel) and the shadow drawn behind it.
//
// Show(owner, x, y) opens the menu with its top-left corner at the point, kept inside
// the work area of its monitor, over a shadow window of the same size; the menu shows
// its rectangle inset by 8 pixels, the shadow the 8-pixel frame around it. A pick
// closes the menu; a pick of "menu_Close", "menu_Update", "menu_PlayBack",
// "menu_OpenNode", "menu_CloseNode", "menu_AlarmSearch", "menu_CloseAll", or of the
// recording list's "menu_Export" and "menu_Snapshot" is sent
// as a notification of that name from the owner through the owner's paint manager.
// Without an owner, "menu_Close", "menu_PlayBack", "menu_CloseNode", "menu_CloseAll",
// "menu_Export" and "menu_Snapshot" are dropped and the others go, without a sender, to the paint
// manager the menu was created for. Escape, or the focus going to another window,
// closes the menu; wheel turns over it are swallowed.
//
// Menu items in our skins are buttons named after the item; a click on one is the
// item's click and its selection.

#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "ui/toolkit/window.h"

namespace ui {

class FocusLossWatcher;

// The items of the camera menu that act on one camera (disabled while there is none).
inline constexpr const char* kCameraMenuItems[] = {"menu_Close", "menu_OpenNode", "menu_CloseNode", "menu_AlarmSearch"};

// Window class "UIShadow": a translucent tool window painting
// "file='menu_bk.png' corner='40,8,8,8'" over its whole size.
class CShadowWnd final : public QWidget {
public:
    static constexpr const char* kImage = "file='menu_bk.png' corner='40,8,8,8'";
    explicit CShadowWnd(QWidget* owner);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class CPopMenu final : public WindowImplBase {
public:
    static constexpr int kShadowWidth = 8;

    // `skinFile`: the menu's skin; `fallbackManager`: where the picks of a menu without
    // owner go (may be nullptr: they are dropped).
    explicit CPopMenu(std::string skinFile, CPaintManagerUI* fallbackManager = nullptr);
    ~CPopMenu() override;

    std::string GetWindowClassName() const override { return "PopMenu"; }
    std::string GetSkinFile() override { return skinFile_; }
    Qt::WindowFlags GetWindowFlags(bool owned) const override;

    // Opens the menu for `owner` (may be nullptr) at the screen point; false when the
    // skin could not be loaded.
    bool Show(CControlUI* owner, int x, int y);
    // Opens the menu under its owner's button, inside the owner's window and on screen
    // (PlaceUnder), so that it neither covers the button nor runs past the window.
    bool ShowUnder(CControlUI* owner);
    // A menu that deletes itself once closed (the usual way to open one).
    static CPopMenu* Open(const std::string& skinFile, CControlUI* owner, int x, int y,
                          CPaintManagerUI* fallbackManager = nullptr);
    static CPopMenu* OpenUnder(const std::string& skinFile, CControlUI* owner, CPaintManagerUI* fallbackManager = nullptr);
    // Items that cannot act now are shown disabled.
    void SetItemEnabled(const std::string& item, bool enabled);

    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnClose() override;
    void OnSize(int width, int height) override;

    CControlUI* Owner() const { return owner_; }
    QWidget* Shadow() const { return shadow_.get(); }

private:
    class Events;
    void Pick(const std::string& item);

    std::string skinFile_;
    CPaintManagerUI* fallbackManager_;
    CControlUI* owner_ = nullptr;
    QPoint at_;
    std::optional<QRect> anchor_;  // the owner's button on screen (ShowUnder)
    QRect ownerWindow_;
    std::unique_ptr<CShadowWnd> shadow_;
    bool deleteOnClose_ = false;
};

}  // namespace ui
