#pragma once
// The paint manager of one window: finds controls by name, delivers notifications to
// the window, and runs the window's timers (message 275 with the timer id in wParam).

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

class QTimer;
class QWidget;

namespace ui {

class CControlUI;

// Notification names the windows handle.
namespace notify {
inline constexpr const char* kWindowInit = "windowinit";
inline constexpr const char* kClick = "click";
inline constexpr const char* kSelectChanged = "selectchanged";
inline constexpr const char* kItemSelect = "itemselect";
inline constexpr const char* kItemClick = "itemclick";
inline constexpr const char* kItemDbClick = "itemdbclick";
inline constexpr const char* kItemActivate = "itemactivate";
inline constexpr const char* kTextChanged = "textchanged";
inline constexpr const char* kSetFocus = "setfocus";
inline constexpr const char* kKillFocus = "killfocus";
inline constexpr const char* kReturn = "return";
inline constexpr const char* kValueChanged = "valuechanged";
inline constexpr const char* kButtonDown = "buttondown";
// The end of a button's press, wherever the pointer was released (ours).
inline constexpr const char* kButtonUp = "buttonup";
inline constexpr const char* kTimer = "timer";
}  // namespace notify

struct TNotifyUI {
    std::string sType;
    CControlUI* pSender = nullptr;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(TNotifyUI& msg) = 0;
};

// Where timer ticks go: the window's message handler.
class ITimerSink {
public:
    virtual ~ITimerSink() = default;
    // Returns true when the window handled message 275.
    virtual bool OnTimerMessage(std::uintptr_t id, CControlUI* control) = 0;
};

class CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // The folder every skin file and image is looked up under ("…/skinFiles").
    static void SetResourcePath(std::string path);
    static const std::string& GetResourcePath();

    void Init(QWidget* root, INotifyUI* notifier, ITimerSink* timers);
    QWidget* GetRoot() const { return root_; }
    // Connects every control under `subtree` (rows built later from item templates).
    void AttachControls(QWidget* subtree);
    // Stops notifications and timers: the window is going away.
    void Shutdown();

    // nullptr when the skin has no such control; callers skip absent controls.
    CControlUI* FindControl(const std::string& name) const;
    template <class T>
    T* FindControl(const std::string& name) const {
        return dynamic_cast<T*>(FindControl(name));
    }
    CControlUI* FindSubControlByName(CControlUI* parent, const std::string& name) const;
    template <class T>
    T* FindSubControlByName(CControlUI* parent, const std::string& name) const {
        return dynamic_cast<T*>(FindSubControlByName(parent, name));
    }

    // A control's own timers go to its OnTimer first; the others arrive at the window
    // as message 275. The control must kill its timers before it goes away.
    bool SetTimer(CControlUI* control, std::uintptr_t id, unsigned elapseMs);
    bool KillTimer(CControlUI* control, std::uintptr_t id);
    void KillTimers(CControlUI* control);

    // Delivers the notification to the window now.
    void SendNotify(TNotifyUI& msg);
    void SendNotify(CControlUI* control, const std::string& type, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

private:
    QWidget* root_ = nullptr;
    INotifyUI* notifier_ = nullptr;
    ITimerSink* timerSink_ = nullptr;
    // A timer may be killed from its own tick, so it is deleted later, not at once.
    struct TimerDeleter {
        void operator()(QTimer* timer) const;
    };
    std::map<std::pair<CControlUI*, std::uintptr_t>, std::unique_ptr<QTimer, TimerDeleter>> timers_;
};

}  // namespace ui
