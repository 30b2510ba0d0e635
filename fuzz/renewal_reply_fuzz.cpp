// The renewal reply: the renewal dialog of a lapsed camera, its renewal sent (request
// id 41), then given a run of control messages (fuzz_messages.h) as the control
// client hands them to subscribed windows, and what the live view makes of its
// answer. Checked: only a message with the dialog's own request id is taken, and only
// the first; the dialog then closes with its values (the status read as strtoll reads
// it: "4294967297" is no success); without one it is still open; every status has a
// text for the user.
#include <QApplication>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "control/control_client.h"
#include "fuzz_messages.h"
#include "ui/live_rules.h"
#include "ui/payment_dlg.h"
#include "ui/toolkit/paint_manager.h"

namespace {

constexpr std::int32_t kRequestId = 41;

int ReferenceNumber(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

void Check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int qtArgc = 1;
    static QApplication application(qtArgc, *argv);
    ui::CPaintManagerUI::SetResourcePath(LARKVIEW_SKIN_DIR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<control::ControlMessage> messages =
        fuzz_input::ReadMessages(std::string_view(reinterpret_cast<const char*>(data), size));

    ui::CPaymentDlg::Environment environment;
    environment.sendRenewal = [](const std::string&) { return kRequestId; };
    environment.subscribe = [](platform::WindowHandle) {};
    environment.unsubscribe = [](platform::WindowHandle) {};
    bool clicked = false;
    ui::SetModalObserver([&](ui::WindowImplBase& window) {
        auto* pay = dynamic_cast<QPushButton*>(window.m_PaintManager.FindControl("BtnPayment"));
        Check(pay != nullptr);
        pay->click();
        clicked = true;
        for (const control::ControlMessage& message : messages)
            platform::SendWindowMessage(window.GetHWND(), platform::Message(control::kControlReplyMessage, 0, 1,
                                                                           platform::MakePayload(message)));
        // Still open: nothing answered it (the ticks would close it after eleven seconds).
        if (!window.IsClosed()) window.Close(ui::kResultCancel);
    });

    const auto answer = std::find_if(messages.begin(), messages.end(),
                                     [](const control::ControlMessage& m) { return m.id == kRequestId; });
    {
        ui::CPaymentDlg dialog("31000006", "仓库通道", 0, environment);
        const int result = dialog.DoModal();
        Check(clicked);
        Check(dialog.Answered() == (answer != messages.end()));
        if (answer == messages.end()) {
            Check(result == ui::kResultCancel && dialog.Reply().status == 0);
        } else {
            const ui::RenewalReply& reply = dialog.Reply();
            Check(result == ui::kResultOk);
            Check(reply.status == ReferenceNumber(answer->Param("status")));
            Check(reply.expiredDate == answer->Param("expiredDate") && reply.cameraId == answer->Param("cameraId") &&
                  reply.expire == answer->Param("expire"));
            // The live view renews the camera only on 1, and otherwise tells the user why.
            Check(reply.status == 1 || !ui::RenewalFailureText(reply.status).empty());
        }
    }
    ui::SetModalObserver(nullptr);
    return 0;
}
