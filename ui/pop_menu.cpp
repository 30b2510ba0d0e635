#include "ui/pop_menu.h"

#include <QEvent>
#include <QPainter>
#include <QTimer>

#include "ui/popup_support.h"
#include "ui/toolkit/image_attr.h"

namespace ui {
namespace {

bool IsMenuItem(const std::string& name) {
    static const char* const kItems[] = {"menu_Close",    "menu_Update",      "menu_PlayBack", "menu_OpenNode",
                                         "menu_CloseNode", "menu_AlarmSearch", "menu_CloseAll",
                                         "menu_Export",    "menu_Snapshot"};
    for (const char* item : kItems)
        if (name == item) return true;
    return false;
}

// Items that act on the owner's camera: nothing to send without one.
bool NeedsOwner(const std::string& name) {
    return name == "menu_Close" || name == "menu_PlayBack" || name == "menu_CloseNode" || name == "menu_CloseAll" ||
           name == "menu_Export" || name == "menu_Snapshot";
}

}  // namespace

// Shadow ---------------------------------------------------------------------------

CShadowWnd::CShadowWnd(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    setObjectName("UIShadow");
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

void CShadowWnd::paintEvent(QPaintEvent*) {
    static const ImageAttr image = ParseImageAttr(kImage);
    // A translucent window starts each paint cleared.
    QPainter painter(this);
    PaintImage(painter, rect(), image);
}

// Menu -----------------------------------------------------------------------------

// Moves the shadow with the menu and swallows wheel turns over any part of the menu.
class CPopMenu::Events final : public QObject {
public:
    explicit Events(CPopMenu& menu) : QObject(menu.GetWidget()), menu_(menu) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel) return true;
        if (watched == menu_.GetWidget() && event->type() == QEvent::Move && menu_.shadow_)
            menu_.shadow_->move(menu_.GetWidget()->pos());
        return false;
    }

private:
    CPopMenu& menu_;
};

CPopMenu::CPopMenu(std::string skinFile, CPaintManagerUI* fallbackManager)
    : skinFile_(std::move(skinFile)), fallbackManager_(fallbackManager) {}

CPopMenu::~CPopMenu() {
    DestroyHandle();
    shadow_.reset();
}

Qt::WindowFlags CPopMenu::GetWindowFlags(bool) const { return Qt::Tool | Qt::FramelessWindowHint; }

CPopMenu* CPopMenu::Open(const std::string& skinFile, CControlUI* owner, int x, int y,
                         CPaintManagerUI* fallbackManager) {
    auto* menu = new CPopMenu(skinFile, fallbackManager);
    menu->deleteOnClose_ = true;
    if (!menu->Show(owner, x, y)) {
        delete menu;
        return nullptr;
    }
    return menu;
}

CPopMenu* CPopMenu::OpenUnder(const std::string& skinFile, CControlUI* owner, CPaintManagerUI* fallbackManager) {
    auto* menu = new CPopMenu(skinFile, fallbackManager);
    menu->deleteOnClose_ = true;
    if (!menu->ShowUnder(owner)) {
        delete menu;
        return nullptr;
    }
    return menu;
}

bool CPopMenu::ShowUnder(CControlUI* owner) {
    QWidget* button = owner ? owner->GetWidget() : nullptr;
    if (!button) return Show(owner, 0, 0);
    anchor_ = QRect(button->mapToGlobal(QPoint(0, 0)), button->size());
    // The whole menu, shadow and all, inside the window.
    ownerWindow_ = button->window()->frameGeometry().adjusted(kShadowWidth, kShadowWidth, -kShadowWidth, -kShadowWidth);
    return Show(owner, anchor_->left(), anchor_->bottom() + 1);
}

void CPopMenu::SetItemEnabled(const std::string& item, bool enabled) {
    if (CControlUI* control = m_PaintManager.FindControl(item)) control->SetEnabled(enabled);
}

bool CPopMenu::Show(CControlUI* owner, int x, int y) {
    owner_ = owner;
    at_ = QPoint(x, y);
    const platform::WindowHandle ownerWindow = WindowHandleOf(owner);
    WindowImplBase* ownerBase = WindowFromHandle(ownerWindow);
    shadow_ = std::make_unique<CShadowWnd>(ownerBase ? ownerBase->GetWidget() : nullptr);
    if (!Create(ownerWindow, {})) {
        shadow_.reset();
        return false;
    }
    QWidget* menu = GetWidget();
    shadow_->setGeometry(menu->geometry());
    shadow_->show();
    menu->show();
    menu->raise();
    menu->activateWindow();
    return true;
}

void CPopMenu::InitWindow() {
    QWidget* menu = GetWidget();
    // The window is cut to its inner rectangle (OnSize): what shows is the skin's own
    // opaque background, whether or not the desktop composes translucent windows.
    const QSize size = menu->size();
    if (anchor_)
        menu->move(PlaceUnder(*anchor_, size, kShadowWidth, ownerWindow_, WorkAreaAt(anchor_->center())));
    else
        menu->move(PlaceInWorkArea(at_, size, WorkAreaAt(at_)));
    auto* events = new Events(*this);
    menu->installEventFilter(events);
    for (QWidget* child : menu->findChildren<QWidget*>()) child->installEventFilter(events);
    new FocusLossWatcher(menu, {shadow_.get()}, [this] { Close(); });
    OnSize(size.width(), size.height());
}

void CPopMenu::OnSize(int width, int height) {
    QWidget* menu = GetWidget();
    if (!menu || menu->isMinimized()) return;
    const QRect inside = QRect(0, 0, width, height).adjusted(kShadowWidth, kShadowWidth, -kShadowWidth, -kShadowWidth);
    if (inside.isValid()) menu->setMask(QRegion(inside));
    if (shadow_) shadow_->setGeometry(QRect(menu->pos(), QSize(width, height)));
}

void CPopMenu::Notify(TNotifyUI& msg) {
    if (msg.sType == notify::kItemSelect) {
        Close();
        return;
    }
    const bool itemClick = msg.sType == notify::kItemClick;
    const bool buttonClick = msg.sType == notify::kClick;
    if ((!itemClick && !buttonClick) || !msg.pSender) return;
    const std::string name = msg.pSender->GetName();
    if (IsMenuItem(name)) Pick(name);
    if (buttonClick) Close();
}

void CPopMenu::Pick(const std::string& item) {
    if (owner_) {
        if (CPaintManagerUI* manager = owner_->GetManager()) manager->SendNotify(owner_, item);
        return;
    }
    if (NeedsOwner(item) || !fallbackManager_) return;
    fallbackManager_->SendNotify(nullptr, item);
}

void CPopMenu::OnClose() {
    if (shadow_) shadow_->hide();
    if (deleteOnClose_) {
        deleteOnClose_ = false;
        QTimer::singleShot(0, [this] { delete this; });
    }
}

}  // namespace ui
