#include "ui/payment_dlg.h"

#include "core/message_ids.h"
#include "core/log_file.h"
#include "control/control_client.h"

namespace ui {

CPaymentDlg::Environment CPaymentDlg::Environment::Application() {
    Environment environment;
    environment.sendRenewal = [](const std::string& cameraId) {
        const auto client = control::ControlClient::Current();
        return client ? client->SendGenericRequest(74, {{"cameraId", cameraId}}) : 0;
    };
    environment.subscribe = [](platform::WindowHandle window) {
        if (const auto client = control::ControlClient::Current()) client->SubscribeRenewal(window);
    };
    environment.unsubscribe = [](platform::WindowHandle window) {
        if (const auto client = control::ControlClient::Current()) client->UnsubscribeRenewal(window);
    };
    return environment;
}

CPaymentDlg::CPaymentDlg(std::string cameraId, std::string cameraName, platform::WindowHandle parent,
                         Environment environment)
    : CPopUpDlg(kSkin, parent),
      cameraId_(std::move(cameraId)),
      cameraName_(std::move(cameraName)),
      environment_(std::move(environment)) {}

CPaymentDlg::~CPaymentDlg() {
    // Unsubscribe before the handle goes: a reply sent meanwhile then finds no window
    // instead of a half-destroyed one.
    if (subscribed_ && environment_.unsubscribe) environment_.unsubscribe(GetHWND());
    m_PaintManager.KillTimer(nullptr, kRenewalTimerId);
    DestroyHandle();
}

void CPaymentDlg::InitWindow() {
    if (environment_.subscribe) {
        environment_.subscribe(GetHWND());
        subscribed_ = true;
    }
    SetText(RenewalArrearsText(cameraName_));
}

void CPaymentDlg::SetText(const std::string& text) {
    if (CControlUI* label = m_PaintManager.FindControl("TextTwo")) label->SetText(text);
}

void CPaymentDlg::Notify(TNotifyUI& msg) {
    if (msg.sType != notify::kClick || !msg.pSender) return;
    const std::string name = msg.pSender->GetName();
    if (name == "BtnPayment") {
        StartRenewal();
    } else if (name == "BtnIgnore" || name == "CloseBtn") {
        m_PaintManager.KillTimer(nullptr, kRenewalTimerId);
        Close(kResultCancel);
    }
}

void CPaymentDlg::StartRenewal() {
    if (renewing_) return;
    renewing_ = true;
    const std::int32_t requestId = environment_.sendRenewal ? environment_.sendRenewal(cameraId_) : 0;
    if (requestId == 0) core::LogWrite("renewal of camera %s could not be sent", cameraId_.c_str());
    exchange_.Sent(requestId);
    if (CControlUI* button = m_PaintManager.FindControl("BtnPayment")) button->SetEnabled(false);
    SetText(RenewalStartedText(cameraName_));
    counter_ = 0;
    m_PaintManager.SetTimer(nullptr, kRenewalTimerId, environment_.tickMs);
}

void CPaymentDlg::Tick() {
    SetText(RenewalTickText(cameraName_, counter_));
    ++counter_;
    if (counter_ > kRenewalLastTick) {
        m_PaintManager.KillTimer(nullptr, kRenewalTimerId);
        Close(kResultOk);
    }
}

std::intptr_t CPaymentDlg::HandleMessage(platform::Message& msg, bool& handled) {
    handled = false;
    if (msg.id == core::kWmTimer && msg.wParam == static_cast<std::uintptr_t>(kRenewalTimerId)) {
        handled = true;
        if (renewing_ && !IsClosed()) Tick();
        return 0;
    }
    if (msg.id == core::kControlReply) {
        handled = true;
        const auto* reply = platform::PayloadAs<control::ControlMessage>(msg);
        // Only the answer to this dialog's own request counts: a renewal reply for
        // another camera (another dialog's, or one that came too late) is not ours.
        if (!reply || IsClosed()) return 0;
        std::optional<RenewalReply> taken = exchange_.Take(reply->id, reply->params);
        if (!taken) return 0;
        for (const auto& [key, value] : reply->params) core::LogWrite("(%s,%s)\n", key.c_str(), value.c_str());
        reply_ = std::move(*taken);
        m_PaintManager.KillTimer(nullptr, kRenewalTimerId);
        Close(kResultOk);
        return 1;
    }
    return 0;
}

}  // namespace ui
