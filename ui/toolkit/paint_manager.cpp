#include "ui/toolkit/paint_manager.h"

#include <QTimer>
#include <QWidget>

#include "ui/toolkit/control.h"

namespace ui {
namespace {
std::string& ResourcePath() {
    static std::string path;
    return path;
}
}  // namespace

CPaintManagerUI::CPaintManagerUI() = default;

void CPaintManagerUI::TimerDeleter::operator()(QTimer* timer) const {
    timer->stop();
    timer->deleteLater();
}

CPaintManagerUI::~CPaintManagerUI() { Shutdown(); }

void CPaintManagerUI::SetResourcePath(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    ResourcePath() = std::move(path);
}

const std::string& CPaintManagerUI::GetResourcePath() { return ResourcePath(); }

void CPaintManagerUI::Init(QWidget* root, INotifyUI* notifier, ITimerSink* timers) {
    root_ = root;
    notifier_ = notifier;
    timerSink_ = timers;
    AttachControls(root);
}

namespace {
void AttachOne(QWidget* widget, CPaintManagerUI* manager) {
    auto* control = dynamic_cast<CControlUI*>(widget);
    if (!control || control->GetManager()) return;
    // A background image may come with the skin as a string property.
    const QVariant image = widget->property("bkimage");
    if (image.isValid() && control->GetBkImage().empty()) control->SetBkImage(image.toString().toStdString());
    control->Attach(manager);
}
}  // namespace

void CPaintManagerUI::AttachControls(QWidget* subtree) {
    if (!subtree) return;
    AttachOne(subtree, this);
    for (QWidget* widget : subtree->findChildren<QWidget*>()) AttachOne(widget, this);
}

void CPaintManagerUI::Shutdown() {
    timers_.clear();
    notifier_ = nullptr;
    timerSink_ = nullptr;
    if (!root_) return;
    if (auto* control = dynamic_cast<CControlUI*>(root_)) control->Detach();
    for (QWidget* widget : root_->findChildren<QWidget*>())
        if (auto* control = dynamic_cast<CControlUI*>(widget)) control->Detach();
    root_ = nullptr;
}

CControlUI* CPaintManagerUI::FindControl(const std::string& name) const { return FindControlIn(root_, name); }

CControlUI* CPaintManagerUI::FindSubControlByName(CControlUI* parent, const std::string& name) const {
    if (!parent) return nullptr;
    if (QWidget* widget = parent->GetWidget()) return FindControlIn(widget, name);
    return nullptr;
}

bool CPaintManagerUI::SetTimer(CControlUI* control, std::uintptr_t id, unsigned elapseMs) {
    if (!root_) return false;
    auto& timer = timers_[{control, id}];
    if (!timer) {
        timer.reset(new QTimer);
        QObject::connect(timer.get(), &QTimer::timeout, [this, control, id] {
            if (control && control->OnTimer(id)) return;
            if (timerSink_ && timerSink_->OnTimerMessage(id, control)) return;
            SendNotify(control, notify::kTimer, id);
        });
    }
    timer->start(static_cast<int>(elapseMs));
    return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* control, std::uintptr_t id) {
    return timers_.erase({control, id}) > 0;
}

void CPaintManagerUI::KillTimers(CControlUI* control) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->first.first == control)
            it = timers_.erase(it);
        else
            ++it;
    }
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg) {
    if (notifier_) notifier_->Notify(msg);
}

void CPaintManagerUI::SendNotify(CControlUI* control, const std::string& type, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    TNotifyUI msg{type, control, wParam, lParam};
    SendNotify(msg);
}

}  // namespace ui
