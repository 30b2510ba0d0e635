#include "ui/alarm_panel.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "core/message_ids.h"
#include "control/control_client.h"
#include "ui/control_factory.h"
#include "ui/pop_menu.h"
#include "ui/toolkit/list.h"

namespace ui {

AlarmPanelEnvironment AlarmPanelEnvironment::Application() {
    AlarmPanelEnvironment environment;
    environment.listenForPushes = [](std::function<void(const control::AlarmRecord&)> listener) {
        if (const auto client = control::ControlClient::Current()) client->InstallAlarmPushHandler(std::move(listener));
    };
    return environment;
}

// --- CAlarmNotice ---

CAlarmNotice::~CAlarmNotice() {
    m_PaintManager.KillTimer(nullptr, kHideTimer);
    DestroyHandle();
}

Qt::WindowFlags CAlarmNotice::GetWindowFlags(bool) const {
    // A tool window that stays on top and never takes the focus from the user's work.
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;
}

void CAlarmNotice::Show(const control::AlarmRecord& alarm) {
    if (!IsCreated() && !Create(0, "报警通知")) return;
    auto set = [this](const char* name, const std::string& text) {
        if (CControlUI* control = m_PaintManager.FindControl(name)) control->SetText(text);
    };
    set("lbNoticeKind", alarm.kindName.empty() ? "报警" : alarm.kindName);
    set("lbNoticeCamera", alarm.nodeName + " · " + alarm.cameraName);
    set("lbNoticeTime", alarm.time);
    set("lbNoticeMsg", alarm.message);
    if (QWidget* widget = GetWidget()) {
        widget->setAttribute(Qt::WA_ShowWithoutActivating);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            widget->move(area.right() - widget->width() - 12, area.bottom() - widget->height() - 12);
        }
    }
    ShowWindow(true);
    m_PaintManager.KillTimer(nullptr, kHideTimer);
    m_PaintManager.SetTimer(nullptr, kHideTimer, environment_.noticeMs);
}

bool CAlarmNotice::IsShown() const { return GetWidget() && GetWidget()->isVisible(); }

void CAlarmNotice::Notify(TNotifyUI& msg) {
    if (msg.sType != notify::kClick || !msg.pSender) return;
    const std::string name = msg.pSender->GetName();
    if (name == "btnNoticeView" && environment_.showAlarmTab) environment_.showAlarmTab();
    if (name == "btnNoticeView" || name == "btnNoticeClose") {
        m_PaintManager.KillTimer(nullptr, kHideTimer);
        ShowWindow(false);
    }
}

std::intptr_t CAlarmNotice::HandleMessage(platform::Message& msg, bool& handled) {
    handled = false;
    if (msg.id == core::kWmTimer && msg.wParam == kHideTimer) {
        handled = true;
        m_PaintManager.KillTimer(nullptr, kHideTimer);
        ShowWindow(false);
    }
    return 0;
}

// --- CAlarmPanel ---

CAlarmPanel::CAlarmPanel(AlarmPanelEnvironment environment) : environment_(std::move(environment)) {}

CAlarmPanel::~CAlarmPanel() {
    if (environment_.listenForPushes) environment_.listenForPushes(nullptr);
    notice_.reset();
    DestroyHandle();
}

void CAlarmPanel::InitWindow() {
    list_ = m_PaintManager.FindControl<CListUI>("lstPushedAlarms");
    if (list_) list_->SetRowTemplate(kRowSkin);
    if (environment_.listenForPushes) {
        // The control channel's thread only posts; the list changes on this thread.
        const platform::WindowHandle self = GetHWND();
        environment_.listenForPushes([self](const control::AlarmRecord& alarm) {
            platform::PostWindowMessage(self, platform::Message(core::kAlarmPushed, 0, 0, platform::MakePayload(alarm)));
        });
    }
}

void CAlarmPanel::AddPushedAlarm(const control::AlarmRecord& alarm) {
    alarms_.push_front(alarm);
    if (list_) {
        if (std::unique_ptr<CListElementUI> row = list_->CreateElement()) {
            row->SetName("pushed_" + alarm.cameraId);
            row->Cell("pa_time")->SetText(alarm.time);
            row->Cell("pa_kind")->SetText(alarm.kindName);
            row->Cell("pa_place")->SetText(alarm.nodeName);
            row->Cell("pa_camera")->SetText(alarm.cameraName);
            row->Cell("pa_msg")->SetText(alarm.message);
            list_->AddAt(std::move(row), 0);
        }
    }
    while (alarms_.size() > kKeptAlarms) {
        alarms_.pop_back();
        if (list_ && list_->GetCount() > static_cast<int>(kKeptAlarms)) list_->RemoveAt(list_->GetCount() - 1);
    }
    if (CControlUI* count = m_PaintManager.FindControl("lbAlarmCount"))
        count->SetText("最新报警 " + std::to_string(alarms_.size()) + " 条");
    if (environment_.showNotices) {
        if (!notice_) notice_ = std::make_unique<CAlarmNotice>(environment_);
        notice_->Show(alarm);
    }
}

std::string CAlarmPanel::ChosenCameraId() const {
    if (alarms_.empty()) return {};
    const int chosen = list_ ? list_->GetCurSel() : -1;
    if (chosen >= 0 && static_cast<std::size_t>(chosen) < alarms_.size())
        return alarms_[static_cast<std::size_t>(chosen)].cameraId;
    return alarms_.front().cameraId;
}

void CAlarmPanel::Notify(TNotifyUI& msg) {
    if (!msg.pSender) return;
    const std::string name = msg.pSender->GetName();
    if (msg.sType == notify::kClick && name == "btnAP") {
        // Under its button, inside the window; what needs a camera waits for an alarm.
        if (CPopMenu* menu = CPopMenu::OpenUnder("CameraPopMenu.xml", msg.pSender, &m_PaintManager)) {
            const bool camera = !ChosenCameraId().empty();
            for (const char* item : kCameraMenuItems) menu->SetItemEnabled(item, camera);
        }
        return;
    }
    if (name == "btnAP" && msg.sType.rfind("menu_", 0) == 0) {
        if (environment_.menuPicked) environment_.menuPicked(msg.sType, ChosenCameraId());
    }
}

std::intptr_t CAlarmPanel::HandleMessage(platform::Message& msg, bool& handled) {
    handled = false;
    if (msg.id == core::kAlarmPushed) {
        handled = true;
        if (const auto* alarm = platform::PayloadAs<control::AlarmRecord>(msg)) AddPushedAlarm(*alarm);
    }
    return 0;
}

// --- CAlarmCtrl ---

CAlarmCtrl::CAlarmCtrl(QWidget* parent, AlarmPanelEnvironment environment)
    : CContainerUI(parent), panel_(std::make_unique<CAlarmPanel>(std::move(environment))) {
    setObjectName("AlarmPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The panel window follows the container: placed over it by the layout, shown and
    // hidden with it, closed when it goes.
    if (panel_->Create(0, CAlarmPanel::kCaption)) {
        layout->addWidget(panel_->GetWidget());
    } else {
        panel_.reset();
    }
}

CAlarmCtrl::~CAlarmCtrl() {
    // The panel owns its widget: it goes before Qt deletes this container's children.
    panel_.reset();
}

void RegisterAlarmPanel(CControlFactory& factory, AlarmPanelEnvironment environment) {
    factory.SetMaker("AlarmPanel", [environment](QWidget* parent) -> CControlUI* {
        return new CAlarmCtrl(parent, environment);
    });
}

}  // namespace ui
