// The reconnection supervisor asking the simulated service for forwarding addresses:
// an offline camera (status -3, address still given) gets a new open request, a
// camera the service does not know is dropped with -4.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "core/message_ids.h"
#include "core/log_file.h"
#include "session/reconnect_supervisor.h"
#include "control/control_client.h"
#include "integration/sim_fixture.h"
#include "platform/paths.h"
#include "platform/tick.h"

using namespace core;
using namespace session;

namespace {

// Seeded camera k = 3 (id 31000004) is offline; ids beyond the seeded ones are unknown.
const std::string kOfflineCamera = "31000004";
const std::string kOnlineCamera = "31000001";
const std::string kUnknownCamera = "39999999";

class Outbox {
public:
    bool Post(platform::Message m) {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(m));
        return true;
    }
    std::vector<platform::Message> Take() {
        std::lock_guard lock(mutex_);
        return std::move(messages_);
    }

private:
    std::mutex mutex_;
    std::vector<platform::Message> messages_;
};

class SupervisorWithSim : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        service = std::make_unique<testing_support::SimulatedService>(20);
        service->PointAt(config, "demo", "larkview");
        control::ControlClient::Timing timing;
        timing.keepAliveWakeMs = 50;
        timing.requestTimeoutMs = 3000;
        client = std::make_unique<control::ControlClient>(timing, config);
        ASSERT_EQ(client->Connect(), 0);
        ASSERT_EQ(client->Login(), 1);
        SupervisorEnvironment environment;
        environment.requestAddress = [this](const std::string& id) { return client->RequestForwardingAddress(id); };
        environment.cellWindow = [](int cell) { return platform::WindowHandle(700 + cell); };
        environment.postNotify = [this](platform::Message m) { return notices.Post(std::move(m)); };
        environment.postTask = [this](platform::Message m) { return tasks.Post(std::move(m)); };
        environment.intervalMs = 20;
        supervisor = std::make_unique<ReconnectSupervisor>(table, environment);
    }
    void TearDown() override {
        supervisor.reset();
        client.reset();
        service.reset();
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    testing_support::TempDir dir;
    core::AppConfig config;
    std::unique_ptr<testing_support::SimulatedService> service;
    std::unique_ptr<control::ControlClient> client;
    ReconnectionTable table;
    Outbox notices, tasks;
    std::unique_ptr<ReconnectSupervisor> supervisor;
};

}  // namespace

TEST_F(SupervisorWithSim, OfflineCameraIsRetriedAndAnUnknownOneDropsItsCell) {
    const control::TransportAddress offline = client->RequestForwardingAddress(kOfflineCamera);
    ASSERT_EQ(offline.status, -3) << "the service reports the camera offline";
    ASSERT_FALSE(offline.forwardingIp.empty());

    table.Add(3, kOfflineCamera);
    table.Add(4, kUnknownCamera);
    table.Add(8, kOnlineCamera);
    supervisor->RunPass();

    auto requests = tasks.Take();
    ASSERT_EQ(requests.size(), 2u);
    std::map<int, std::string> opened;
    for (auto& m : requests) {
        EXPECT_EQ(m.id, kTaskOpenCamera);
        auto* request = platform::PayloadAs<OpenRequest>(m);
        ASSERT_TRUE(request);
        opened[request->cell] = request->cameraId;
        EXPECT_EQ(request->window, platform::WindowHandle(700 + request->cell));
        EXPECT_EQ(request->ip, offline.forwardingIp);
        EXPECT_GT(request->port, 0);
    }
    EXPECT_EQ(opened, (std::map<int, std::string>{{3, kOfflineCamera}, {8, kOnlineCamera}}));

    bool dropped = false;
    for (auto& m : notices.Take()) {
        EXPECT_EQ(m.id, kAppNotify);
        if (m.wParam == 4u) {
            EXPECT_EQ(m.lParam, kConnectionFailed);
            dropped = true;
        }
    }
    EXPECT_TRUE(dropped) << "the unknown camera's cell is given up with -4";
    EXPECT_EQ(table.Snapshot(), (std::map<int, std::string>{{3, kOfflineCamera}, {8, kOnlineCamera}}));
}

TEST_F(SupervisorWithSim, RunningSupervisorKeepsAskingWhileTheCameraStaysOffline) {
    table.Add(2, kOfflineCamera);
    ASSERT_TRUE(supervisor->Start());
    std::size_t requests = 0;
    const std::uint32_t start = platform::TickCount();
    while (requests < 3 && platform::TickSince(start) < 10000) {
        requests += tasks.Take().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    supervisor->Stop();
    EXPECT_GE(requests, 3u) << "each pass asks again for the offline camera";
    EXPECT_EQ(table.Snapshot().count(2), 1u);
}
