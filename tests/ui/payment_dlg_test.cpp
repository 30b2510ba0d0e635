// The renewal dialog: its subscription, the request, the ticking text, and the ways it
// closes (the reply to its own request, the eleventh tick, ignoring).
#include <QPushButton>
#include <gtest/gtest.h>

#include "core/message_ids.h"
#include "control/control_client.h"
#include "support/modal_driver.h"
#include "ui/payment_dlg.h"

namespace {

using testing_support::ModalDriver;
using testing_support::TextOf;

struct Channel {
    std::vector<platform::WindowHandle> subscribed, unsubscribed;
    std::vector<std::string> sent;
    std::int32_t nextId = 41;

    ui::CPaymentDlg::Environment Environment(unsigned tickMs = 1000) {
        ui::CPaymentDlg::Environment environment;
        environment.sendRenewal = [this](const std::string& id) {
            sent.push_back(id);
            return nextId;
        };
        environment.subscribe = [this](platform::WindowHandle w) { subscribed.push_back(w); };
        environment.unsubscribe = [this](platform::WindowHandle w) { unsubscribed.push_back(w); };
        environment.tickMs = tickMs;
        return environment;
    }
};

void Click(ui::WindowImplBase& window, const char* name) {
    auto* button = dynamic_cast<QPushButton*>(window.m_PaintManager.FindControl(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

void Reply(ui::WindowImplBase& window, std::int32_t id, std::map<std::string, std::string> params) {
    control::ControlMessage reply;
    reply.id = id;
    reply.msgType = 74;
    reply.realm = 1;
    reply.params = std::move(params);
    platform::SendWindowMessage(window.GetHWND(),
                                platform::Message(core::kControlReply, 0, 1, platform::MakePayload(reply)));
}

TEST(PaymentDialog, TheReplyToItsOwnRequestClosesItWithTheValues) {
    Channel channel;
    ModalDriver driver;
    std::string arrears, renewing;
    bool buttonEnabled = true;
    driver.Then([&](ui::WindowImplBase& window) {
        arrears = TextOf(window, "TextTwo");
        Click(window, "BtnPayment");
        renewing = TextOf(window, "TextTwo");
        buttonEnabled = window.m_PaintManager.FindControl("BtnPayment")->IsEnabled();
        // Another dialog's reply is not this one's.
        Reply(window, 7, {{"status", "-3"}, {"cameraId", "999"}});
        EXPECT_FALSE(window.IsClosed());
        Reply(window, 41, {{"status", "1"}, {"expire", "365"}, {"cameraId", "31000006"}, {"expiredDate", "2027-12-08"}});
    });
    platform::WindowHandle handle = 0;
    {
        ui::CPaymentDlg dialog("31000006", "仓库通道", 0, channel.Environment());
        EXPECT_EQ(dialog.DoModal(), ui::kResultOk);
        handle = dialog.GetHWND();
        EXPECT_TRUE(dialog.Answered());
        EXPECT_EQ(dialog.Reply().status, 1);
        EXPECT_EQ(dialog.Reply().expiredDate, "2027-12-08");
        EXPECT_EQ(dialog.GetWindowClassName(), "PaymentWnd");
    }
    EXPECT_EQ(arrears, "摄像头 仓库通道 已欠费!");
    EXPECT_EQ(renewing, "摄像头 仓库通道 续费中...");
    EXPECT_FALSE(buttonEnabled);
    EXPECT_EQ(channel.sent, std::vector<std::string>{"31000006"});
    ASSERT_EQ(channel.subscribed.size(), 1u);
    EXPECT_EQ(channel.subscribed[0], handle);
    EXPECT_EQ(channel.unsubscribed, channel.subscribed) << "unsubscribed when destroyed";
}

TEST(PaymentDialog, WithoutReplyItClosesAfterTheEleventhTick) {
    Channel channel;
    ModalDriver driver;
    std::vector<std::string> texts;
    driver.Then([&](ui::WindowImplBase& window) { Click(window, "BtnPayment"); });
    ui::CPaymentDlg dialog("31000006", "A", 0, channel.Environment(5));
    EXPECT_EQ(dialog.DoModal(), ui::kResultOk);
    EXPECT_FALSE(dialog.Answered());
    EXPECT_EQ(dialog.Reply().status, 0) << "reads as the renewal time-out";
    EXPECT_EQ(dialog.Ticks(), 11);
    EXPECT_EQ(TextOf(dialog, "TextTwo"), "摄像头 A 续费中.. ") << "the eleventh tick (counter 10) shows two dots";
}

TEST(PaymentDialog, IgnoreAndCloseLeaveWithCancelAndSendNothing) {
    for (const char* button : {"BtnIgnore", "CloseBtn"}) {
        Channel channel;
        ModalDriver driver;
        driver.Then([&](ui::WindowImplBase& window) { Click(window, button); });
        ui::CPaymentDlg dialog("1", "A", 0, channel.Environment());
        EXPECT_EQ(dialog.DoModal(), ui::kResultCancel) << button;
        EXPECT_TRUE(channel.sent.empty());
    }
}

TEST(PaymentDialog, AReplyBeforeTheRequestIsNotTaken) {
    Channel channel;
    ModalDriver driver;
    driver.Then([&](ui::WindowImplBase& window) {
        Reply(window, 41, {{"status", "1"}});
        EXPECT_FALSE(window.IsClosed());
        Click(window, "BtnIgnore");
    });
    ui::CPaymentDlg dialog("1", "A", 0, channel.Environment());
    EXPECT_EQ(dialog.DoModal(), ui::kResultCancel);
    EXPECT_FALSE(dialog.Answered());
}

}  // namespace
