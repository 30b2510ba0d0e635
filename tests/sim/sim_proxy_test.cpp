// The proxy end to end: a Tether client connection against the running service.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>

#include "control/master_http.h"
#include "libs/tether/tether.h"
#include "sim/sim_service.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

// Collects what arrives on one client connection.
class Inbox {
public:
    static void Receive(int status, const char* data, int length, void* user) {
        auto* inbox = static_cast<Inbox*>(user);
        std::lock_guard<std::mutex> guard(inbox->lock_);
        if (status < 0)
            inbox->lost_ = true;
        else
            inbox->messages_.emplace_back(data, static_cast<std::size_t>(length));
        inbox->changed_.notify_all();
    }
    // The next message, or nothing after `timeoutMs`.
    std::optional<control::ControlMessage> Next(int timeoutMs = 3000) {
        std::unique_lock<std::mutex> guard(lock_);
        if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return !messages_.empty(); }))
            return std::nullopt;
        std::string bytes = std::move(messages_.front());
        messages_.pop_front();
        return control::DecodeMessage(bytes.data(), bytes.size());
    }
    bool WaitLost(int timeoutMs = 3000) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return lost_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::string> messages_;
    bool lost_ = false;
};

class SimProxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        UseUtc();
        config_.databasePath = dir_.File("sim.db");
        config_.cameraCount = 100;
        config_.listChunkRows = 40;
        config_.referenceTime = kReference;
        service_ = std::make_unique<sim::SimService>(config_);
        std::string error;
        ASSERT_EQ(service_->Start(&error), sim::SimService::kOk) << error;
        service_->Store().SetClock([] { return kReference; });
        ASSERT_GT(service_->ProxyPort(), 0);
    }
    void TearDown() override {
        if (handle_) tether::Close(handle_);
        service_->Stop();
    }
    bool Connect() {
        handle_ = tether::Connect("127.0.0.1", service_->ProxyPort(), &Inbox::Receive, &inbox_, 2000);
        return handle_ != 0;
    }
    bool Send(const std::string& wire) {
        return tether::Send(handle_, wire.data(), static_cast<long>(wire.size()), false) > 0;
    }
    std::optional<control::ControlMessage> LogIn(const std::string& user) {
        if (!Send(Request(1, 2, {{"userName", user}, {"password", kDemoDigest}, {"oemId", "1"}, {"ver", "1.1.1"}})))
            return std::nullopt;
        return inbox_.Next();
    }

    testing_support::TempDir dir_;
    sim::SimConfig config_;
    std::unique_ptr<sim::SimService> service_;
    Inbox inbox_;
    tether::ConnectionHandle handle_ = 0;
};

}  // namespace

TEST_F(SimProxyTest, LoginListAndScrambledAccountOverTheNetwork) {
    ASSERT_TRUE(Connect());
    auto login = LogIn("demo");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->Param("status"), "1");
    ASSERT_TRUE(Send(Request(2, 29, {{"userId", "10001"}})));
    int replies = 0;
    for (;;) {
        auto reply = inbox_.Next();
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->msgType, 29);
        ++replies;
        if (reply->Param("end") == "1") break;
    }
    EXPECT_EQ(replies, 4);  // 100 cameras and 36 nodes, 40 rows a reply
}

TEST_F(SimProxyTest, DroppedAndRefusedConnections) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(LogIn("demo"));
    service_->DropControlConnections();
    EXPECT_TRUE(inbox_.WaitLost());

    service_->SetRefuseControlConnections(true);
    Inbox refused;
    auto handle = tether::Connect("127.0.0.1", service_->ProxyPort(), &Inbox::Receive, &refused, 2000);
    if (handle) {
        EXPECT_TRUE(refused.WaitLost()) << "accepted and closed at once";
        tether::Close(handle);
    }
    service_->ClearFaults();
    tether::Close(handle_);
    handle_ = 0;
    ASSERT_TRUE(Connect());
    EXPECT_EQ(LogIn("demo")->Param("status"), "1");
}

TEST_F(SimProxyTest, PushesAndRawBytesReachTheClient) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(LogIn("zhangwei"));
    EXPECT_EQ(service_->Control().PushNotice(10002, 1, "公告", "内容"), 1);
    auto notice = inbox_.Next();
    ASSERT_TRUE(notice) << "scrambled pushes decode like plain ones";
    EXPECT_EQ(notice->msgType, 35);
    EXPECT_EQ(notice->Param("tipContent"), "内容");

    auto connections = service_->Control().LoggedInConnections();
    ASSERT_EQ(connections.size(), 1u);
    // A frame header announcing more than ever comes, then the connection ends.
    EXPECT_TRUE(service_->SendTruncatedFrame(connections[0]));
    service_->DropControlConnections();
    EXPECT_TRUE(inbox_.WaitLost());
    EXPECT_FALSE(inbox_.Next(100)) << "a cut frame is never delivered";
}

TEST_F(SimProxyTest, MasterLookupThroughTheClientHttpCodeThenLogin) {
    control::CMasterHttp http;
    std::map<std::string, std::string> values;
    const std::string url = "http://127.0.0.1:" + std::to_string(service_->MasterPort()) + "/master_demo";
    ASSERT_TRUE(http.MasterLookup(url, values));
    EXPECT_EQ(values["status"], "IDEL");
    EXPECT_EQ(values["ip"], "127.0.0.1");
    ASSERT_EQ(values["port"], std::to_string(service_->ProxyPort()));
    handle_ = tether::Connect(values["ip"].c_str(), std::atoi(values["port"].c_str()), &Inbox::Receive, &inbox_, 2000);
    ASSERT_NE(handle_, 0u);
    EXPECT_EQ(LogIn("demo")->Param("status"), "1");

    sim::MasterFaults faults;
    faults.mode = sim::MasterFaults::Mode::kNotJson;
    service_->SetMasterFaults(faults);
    EXPECT_FALSE(http.MasterLookup(url, values));
}
