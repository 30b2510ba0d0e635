#pragma once
// The renewal dialog of a camera whose service has lapsed. It subscribes its window
// to renewal replies (msgType 74) while it exists; "BtnPayment" sends the renewal and
// shows a ticking text until the reply comes (the dialog closes with 17 and keeps a
// copy of it) or the eleventh tick passes without one (17 with no reply). "BtnIgnore"
// and "CloseBtn" close with 33.

#include <cstdint>
#include <functional>
#include <string>

#include "ui/live_rules.h"
#include "ui/pop_up_dlg.h"

namespace ui {

class CPaymentDlg final : public CPopUpDlg {
public:
    static constexpr const char* kSkin = "Payment.xml";

    // How the dialog reaches the control channel; the default is the process-wide
    // control client.
    struct Environment {
        // Sends msgType 74 with the camera id; the request id, 0 when it was not sent.
        std::function<std::int32_t(const std::string& cameraId)> sendRenewal;
        std::function<void(platform::WindowHandle)> subscribe;
        std::function<void(platform::WindowHandle)> unsubscribe;
        unsigned tickMs = kRenewalTickMs;
        static Environment Application();
    };

    CPaymentDlg(std::string cameraId, std::string cameraName, platform::WindowHandle parent,
                Environment environment = Environment::Application());
    ~CPaymentDlg() override;

    std::string GetWindowClassName() const override { return "PaymentWnd"; }
    int EscapeResult() const override { return kResultCancel; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    std::intptr_t HandleMessage(platform::Message& msg, bool& handled) override;

    // The reply copied from msgType 74; status 0 when none came.
    const RenewalReply& Reply() const { return reply_; }
    bool Answered() const { return exchange_.Answered(); }
    int Ticks() const { return counter_; }

private:
    void StartRenewal();
    void Tick();
    void SetText(const std::string& text);

    std::string cameraId_;
    std::string cameraName_;
    Environment environment_;
    bool subscribed_ = false;
    bool renewing_ = false;
    RenewalExchange exchange_;
    int counter_ = 0;
    RenewalReply reply_;
};

}  // namespace ui
