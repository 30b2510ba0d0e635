// The control client and the login sequence against the simulated service.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <ranges>
#include <set>
#include <thread>

#include "session/app_instance.h"
#include "core/message_ids.h"
#include "core/log_file.h"
#include "session/login_sequence.h"
#include "control/camera_rows.h"
#include "control/control_client.h"
#include "integration/sim_fixture.h"
#include "platform/paths.h"
#include "platform/tick.h"

using control::ControlClient;

namespace {

// A quick reconnect after a drop; time-outs no passing test waits for, so that a reader
// starved for a while on a busy machine (or in a sanitizer build) is no dead connection.
ControlClient::Timing QuickTiming() {
    ControlClient::Timing timing;
    timing.keepAliveWakeMs = 20;
    timing.heartbeatAfterMs = 2000;
    timing.downAfterMs = 10000;
    timing.requestTimeoutMs = 5000;
    timing.listTimeoutMs = 60000;
    return timing;
}

bool WaitFor(const std::function<bool()>& done, std::uint32_t timeoutMs = 5000) {
    std::uint32_t start = platform::TickCount();
    while (!done()) {
        if (platform::TickSince(start) > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class ControlWithSim : public ::testing::Test {
protected:
    // A client of the demo account, connected and logged in.
    std::unique_ptr<ControlClient> LoggedInClient(testing_support::SimulatedService& sim, core::AppConfig& config) {
        sim.PointAt(config, "demo", "larkview");
        auto client = std::make_unique<ControlClient>(QuickTiming(), config);
        EXPECT_EQ(client->Connect(), 0);
        EXPECT_EQ(client->Login(), 1);
        return client;
    }

    void SetUp() override { platform::SetProgramDirectory(dir.Path()); }
    void TearDown() override {
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }
    testing_support::TempDir dir;
};

}  // namespace

TEST_F(ControlWithSim, LoginStatusesOfTheSeededAccounts) {
    testing_support::SimulatedService sim;
    const struct {
        const char* user;
        const char* password;
        int status;
    } accounts[] = {{"demo", "larkview", 1}, {"demo", "wrong", -1}, {"partner", "larkview", 2},
                    {"expired", "larkview", -2}, {"nobody", "x", -1}};
    for (const auto& account : accounts) {
        core::AppConfig config;
        sim.PointAt(config, account.user, account.password);
        ControlClient client(QuickTiming(), config);
        ASSERT_EQ(client.Connect(), 0) << account.user;
        EXPECT_EQ(client.Login(), account.status) << account.user << "/" << account.password;
    }
}

TEST_F(ControlWithSim, TenThousandCamerasBuildTheirRows) {
    testing_support::SimulatedService sim(10000);
    core::AppConfig config;
    auto client = LoggedInClient(sim, config);
    control::CameraListReply list;
    ASSERT_TRUE(client->FetchCameraList(list));
    control::CameraRows rows = control::BuildCameraRows(list, nullptr);
    std::size_t cameras = 0;
    for (auto& row : rows.rows) cameras += row->kind == control::ITEMINFO::kCamera;
    EXPECT_EQ(cameras, 10000u);
    EXPECT_GT(rows.nodeCounts.size(), 10u);
    // Every camera's parent is a node of the list.
    for (auto& row : rows.rows) {
        if (row->kind == control::ITEMINFO::kCamera) {
            ASSERT_EQ(rows.nodeCounts.count(row->parentId), 1u) << row->id;
        }
    }
}

TEST_F(ControlWithSim, DroppedConnectionIsReconnectedAndLoggedInAgain) {
    testing_support::SimulatedService sim;
    core::AppConfig config;
    auto client = LoggedInClient(sim, config);
    control::CameraListReply list;
    ASSERT_TRUE(client->FetchCameraList(list));
    const std::string camera = control::SplitList(list.lists[control::CameraListReply::kCameraId]).back();

    // The client may reconnect before a poll could see it disconnected: look for a new
    // logged-in connection at the service instead.
    const auto before = sim.Service().Control().Connections();
    sim.Service().DropControlConnections();
    ASSERT_TRUE(WaitFor([&] {
        for (auto id : sim.Service().Control().LoggedInConnections())
            if (std::find(before.begin(), before.end(), id) == before.end()) return true;
        return false;
    }));
    ASSERT_TRUE(WaitFor([&] { return client->IsConnected(); }));
    // Logged in again: the service answers requests that need a session.
    EXPECT_TRUE(WaitFor([&] { return client->RequestForwardingAddress(camera).status != -100; }, 8000));
}

TEST_F(ControlWithSim, AlarmSearchReturnsRowsWithPictureAddresses) {
    testing_support::SimulatedService sim;
    core::AppConfig config;
    auto client = LoggedInClient(sim, config);
    control::CameraListReply list;
    ASSERT_TRUE(client->FetchCameraList(list));
    auto nodes = control::SplitList(list.lists[control::CameraListReply::kNodeId]);
    ASSERT_FALSE(nodes.empty());
    control::AlarmSearchResult result;
    ASSERT_TRUE(client->SearchAlarms("2000-01-01 00:00:00", "2100-01-01 00:00:00", nodes[0], "", result));
    ASSERT_GT(result.Size(), 0u);
    EXPECT_EQ(result.pictureUrls[0].rfind(config.UploadUrl(), 0), 0u) << result.pictureUrls[0];
}

TEST_F(ControlWithSim, LoginSequenceRunsToTheEndAgainstTheService) {
    testing_support::SimulatedService sim;
    ControlClient::SetTimingForNewClients(QuickTiming());
    core::AppConfig& config = core::AppConfig::Instance();
    config = core::AppConfig();
    sim.PointAt(config, "demo", "larkview");
    auto executor = std::make_shared<platform::LoopExecutor>();
    std::vector<std::string> texts;
    platform::WindowHandle window = platform::CreateWindowHandle(
        [&](platform::Message& message) -> std::intptr_t {
            auto* text = platform::PayloadAs<std::string>(message);
            texts.push_back(std::to_string(message.wParam) + ":" + (text ? *text : ""));
            return 0;
        },
        executor);
    session::CAppInteance::Instance().SetNotifyWindow(window);
    std::atomic<int> result{-1};
    std::thread login([&] { result = session::RunLoginSequence(); });
    executor->RunUntil([&] { return result != -1; }, 15000);
    login.join();
    executor->RunPending();
    EXPECT_EQ(result, 1);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "0:");
    EXPECT_GT(session::CAppInteance::Instance().Items().Count(), 200u);
    session::CAppInteance::Destroy();
    platform::DestroyWindowHandle(window);
}

// Every video link's supervision, the open tasks and the reconnection supervisor ask
// for forwarding addresses from threads of their own, all at once after the service
// dropped every link. Each caller must get its own camera's answer (replies are
// matched by type only), and none may write the shared request while another sends it.
TEST_F(ControlWithSim, ConcurrentAddressRequestsEachGetTheirOwnCamerasAnswer) {
    testing_support::SimulatedService sim(40);
    core::AppConfig config;
    auto client = LoggedInClient(sim, config);
    // Online cameras on different forwarding servers (camera k uses server k mod n + 1).
    const std::vector<std::string> cameras{"31000001", "31000002", "31000003", "31000005", "31000007", "31000008"};
    std::map<std::string, std::string> expected;
    for (const auto& id : cameras) {
        const control::TransportAddress address = client->RequestForwardingAddress(id);
        ASSERT_EQ(address.status, 1) << id;
        expected[id] = address.forwardingPort;
    }
    ASSERT_GT(std::set<std::string>(std::views::values(expected).begin(), std::views::values(expected).end()).size(), 1u)
        << "the cameras must use more than one forwarding server";

    std::atomic<int> wrong{0}, unanswered{0};
    std::vector<std::thread> threads;
    for (const auto& id : cameras)
        threads.emplace_back([&, id] {
            for (int i = 0; i < 30; ++i) {
                const control::TransportAddress address = client->RequestForwardingAddress(id);
                if (address.status != 1) ++unanswered;
                else if (address.forwardingPort != expected[id]) ++wrong;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0) << "answers for another camera";
    EXPECT_EQ(unanswered, 0);
}
