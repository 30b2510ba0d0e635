#pragma once
// The alarm tab: CAlarmCtrl is the container the main skin's "AlarmPanel" tag makes;
// it holds the child window CAlarmPanel ("AlarmPanel.xml", caption "报警管理") over its
// whole rectangle, shown and hidden with it. The panel lists the alarms the service
// pushes (msgType 7), newest first, and shows each in a notice that does not block
// (CAlarmNotice, closing by itself). "btnAP" opens the camera pop-up menu; its picks
// go to the menu handler with the camera of the chosen alarm.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "control/control_types.h"
#include "ui/toolkit/control.h"
#include "ui/toolkit/window.h"

namespace ui {

class CControlFactory;
class CListUI;

struct AlarmPanelEnvironment {
    // Starts delivering pushed alarms to the callback (on any thread); the default
    // installs the control client's alarm handler. Called with nullptr to stop.
    std::function<void(std::function<void(const control::AlarmRecord&)>)> listenForPushes;
    // A pick of the pop-up menu ("menu_Close", "menu_AlarmSearch", …) with the camera
    // id of the chosen alarm (empty when none is chosen).
    std::function<void(const std::string& item, const std::string& cameraId)> menuPicked;
    // The notice's "查看" button: the user wants the alarm tab.
    std::function<void()> showAlarmTab;
    unsigned noticeMs = 6000;
    bool showNotices = true;
    static AlarmPanelEnvironment Application();
};

// The small window that tells of a new alarm without stopping the user: a frameless
// tool window in the bottom-right corner of the screen, closing after a few seconds.
class CAlarmNotice final : public WindowImplBase {
public:
    static constexpr const char* kSkin = "AlarmNotice.xml";
    static constexpr std::uintptr_t kHideTimer = 1;
    explicit CAlarmNotice(AlarmPanelEnvironment& environment) : environment_(environment) {}
    ~CAlarmNotice() override;
    std::string GetWindowClassName() const override { return "AlarmNotice"; }
    std::string GetSkinFile() override { return kSkin; }
    Qt::WindowFlags GetWindowFlags(bool owned) const override;
    void Notify(TNotifyUI& msg) override;
    std::intptr_t HandleMessage(platform::Message& msg, bool& handled) override;

    // Shows (or refreshes) the notice for the alarm.
    void Show(const control::AlarmRecord& alarm);
    bool IsShown() const;

private:
    AlarmPanelEnvironment& environment_;
};

class CAlarmPanel final : public WindowImplBase {
public:
    static constexpr const char* kSkin = "AlarmPanel.xml";
    static constexpr const char* kRowSkin = "PushedAlarmItem.xml";
    static constexpr const char* kCaption = "报警管理";
    static constexpr std::size_t kKeptAlarms = 200;

    explicit CAlarmPanel(AlarmPanelEnvironment environment);
    ~CAlarmPanel() override;

    std::string GetWindowClassName() const override { return "CAlarmPanel"; }
    std::string GetSkinFile() override { return kSkin; }
    Qt::WindowFlags GetWindowFlags(bool owned) const override { return Qt::Widget; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    std::intptr_t HandleMessage(platform::Message& msg, bool& handled) override;

    // A pushed alarm, newest first in the list, and in the notice.
    void AddPushedAlarm(const control::AlarmRecord& alarm);
    const std::deque<control::AlarmRecord>& PushedAlarms() const { return alarms_; }
    CAlarmNotice* Notice() const { return notice_.get(); }
    // The camera of the chosen row, or of the newest alarm.
    std::string ChosenCameraId() const;

private:
    AlarmPanelEnvironment environment_;
    std::deque<control::AlarmRecord> alarms_;
    CListUI* list_ = nullptr;
    std::unique_ptr<CAlarmNotice> notice_;
};

// The control of the "AlarmPanel" tag.
class CAlarmCtrl final : public CContainerUI {
public:
    CAlarmCtrl(QWidget* parent, AlarmPanelEnvironment environment);
    ~CAlarmCtrl() override;
    std::string GetClass() const override { return "AlarmPanel"; }
    CAlarmPanel* Panel() const { return panel_.get(); }

private:
    std::unique_ptr<CAlarmPanel> panel_;
};

// Lets the factory make the alarm tab.
void RegisterAlarmPanel(CControlFactory& factory, AlarmPanelEnvironment environment = AlarmPanelEnvironment::Application());

}  // namespace ui
