// The reconnection supervisor's pass and the open and close task handlers.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <tuple>

#include "core/message_ids.h"
#include "tasks/live_tasks.h"
#include "session/reconnect_supervisor.h"
#include "media/camera_registry.h"

using namespace core;
using namespace session;
using namespace tasks;

namespace {

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

control::TransportAddress Address(int status, const std::string& ip = "10.0.0.5", const std::string& port = "7100") {
    control::TransportAddress reply;
    reply.status = status;
    reply.answered = true;
    reply.forwardingIp = ip;
    reply.forwardingPort = port;
    return reply;
}

struct SupervisorRig {
    explicit SupervisorRig(std::function<control::TransportAddress(const std::string&)> request) {
        SupervisorEnvironment environment;
        environment.requestAddress = std::move(request);
        environment.cellWindow = [](int cell) { return platform::WindowHandle(500 + cell); };
        environment.postNotify = [this](platform::Message m) { return notices.Post(std::move(m)); };
        environment.postTask = [this](platform::Message m) { return tasks.Post(std::move(m)); };
        environment.intervalMs = 20;
        supervisor = std::make_unique<ReconnectSupervisor>(table, environment);
    }
    ReconnectionTable table;
    Outbox notices, tasks;
    std::unique_ptr<ReconnectSupervisor> supervisor;
};

}  // namespace

TEST(ReconnectSupervisor, UsableRepliesQueueOpenRequestsAndOthersDropTheCell) {
    SupervisorRig rig([](const std::string& id) {
        if (id == "ok") return Address(1);
        if (id == "busy") return Address(-3, "10.0.0.6", "7200");
        return Address(-1);  // the server knows no such camera
    });
    rig.supervisor->RunPass();  // empty table: nothing
    EXPECT_TRUE(rig.tasks.Take().empty());
    EXPECT_TRUE(rig.notices.Take().empty());

    rig.table.Add(2, "ok");
    rig.table.Add(5, "busy");
    rig.table.Add(7, "gone");
    rig.table.Add(9, "");
    rig.supervisor->RunPass();

    auto tasks = rig.tasks.Take();
    ASSERT_EQ(tasks.size(), 2u);
    auto* first = platform::PayloadAs<OpenRequest>(tasks[0]);
    auto* second = platform::PayloadAs<OpenRequest>(tasks[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(tasks[0].id, kTaskOpenCamera);
    EXPECT_EQ(first->cell, 2);
    EXPECT_EQ(first->window, 502u);
    EXPECT_EQ(first->cameraId, "ok");
    EXPECT_EQ(first->port, 7100);
    EXPECT_TRUE(first->reconnect) << "lapses if the cell stops waiting";
    EXPECT_EQ(second->cameraId, "busy") << "status -3 counts as usable";
    EXPECT_EQ(second->ip, "10.0.0.6");
    EXPECT_EQ(second->port, 7200);

    std::vector<std::pair<std::uintptr_t, std::intptr_t>> notices;
    for (auto& m : rig.notices.Take()) {
        EXPECT_EQ(m.id, kAppNotify);
        notices.emplace_back(m.wParam, m.lParam);
        const auto* id = platform::PayloadAs<std::string>(m);
        ASSERT_NE(id, nullptr) << "the notice names its camera";
        if (m.wParam == 7) {
            EXPECT_EQ(*id, "gone");
        }
    }
    const std::vector<std::pair<std::uintptr_t, std::intptr_t>> expected = {{2, -6}, {5, -6}, {7, -4}, {9, -4}};
    EXPECT_EQ(notices, expected);
    EXPECT_EQ(rig.table.Snapshot(), (std::map<int, std::string>{{2, "ok"}, {5, "busy"}}))
        << "usable cells stay until their open succeeds";
}

// A request without an answer (the control connection down, as while the service
// restarts) is no verdict on the camera: the cell waits for the next pass, silently.
TEST(ReconnectSupervisor, AnUnansweredRequestKeepsTheCellForTheNextPass) {
    bool answering = false;
    SupervisorRig rig([&](const std::string&) { return answering ? Address(1) : control::TransportAddress{}; });
    rig.table.Add(3, "cam");
    rig.supervisor->RunPass();
    EXPECT_TRUE(rig.tasks.Take().empty());
    EXPECT_TRUE(rig.notices.Take().empty());
    EXPECT_EQ(rig.table.Snapshot(), (std::map<int, std::string>{{3, "cam"}}));

    answering = true;
    rig.supervisor->RunPass();
    ASSERT_EQ(rig.tasks.Take().size(), 1u) << "the next pass opens it";
}

TEST(ReconnectSupervisor, MoveDuringAPassDoesNotWaitAndTheMovedEntryIsLeftAlone) {
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    std::once_flag once;
    SupervisorRig rig([&](const std::string&) {
        std::call_once(once, [&] { entered.set_value(); });
        released.wait();
        return Address(-1);
    });
    rig.table.Add(1, "cam");
    auto pass = std::async(std::launch::async, [&] { rig.supervisor->RunPass(); });
    entered.get_future().wait();

    const auto start = std::chrono::steady_clock::now();
    rig.table.Move(1, 4);
    rig.table.Swap(4, 6);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(500)) << "the drag did not wait for the request";

    release.set_value();
    pass.get();
    EXPECT_EQ(rig.table.Snapshot(), (std::map<int, std::string>{{6, "cam"}})) << "the moved entry is not dropped";
    EXPECT_TRUE(rig.notices.Take().empty());
}

// Passes follow one another until Stop, which waits for the pass in progress: the second
// pass's request, held while Stop is called, has ended when Stop returns.
TEST(ReconnectSupervisor, ThreadRunsPassesUntilStopped) {
    std::atomic<int> requests{0};
    std::atomic<bool> ended{false};
    std::promise<void> second, release;
    auto released = release.get_future().share();
    SupervisorRig rig([&](const std::string&) {
        if (++requests == 2) {
            second.set_value();
            released.wait();
            ended = true;
        }
        return Address(1);
    });
    rig.table.Add(3, "cam");
    ASSERT_TRUE(rig.supervisor->Start());
    ASSERT_EQ(second.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto stop = std::async(std::launch::async, [&] {
        rig.supervisor->Stop();
        return ended.load();
    });
    release.set_value();
    EXPECT_TRUE(stop.get()) << "Stop returned while a pass still ran";
}

TEST(ReconnectionTable, SwapKeepsBothEntries) {
    ReconnectionTable table;
    table.Add(1, "a");
    table.Add(2, "b");
    table.Swap(1, 2);
    EXPECT_EQ(table.Snapshot(), (std::map<int, std::string>{{1, "b"}, {2, "a"}}));
    table.Move(1, 2);
    EXPECT_EQ(table.Snapshot(), (std::map<int, std::string>{{2, "b"}}));
}

namespace {
struct TaskRig {
    TaskRig() {
        environment.requestAddress = [this](const std::string& id) {
            ++requests;
            lastId = id;
            return reply;
        };
        environment.postNotify = [this](platform::Message m) { return notices.Post(std::move(m)); };
    }
    ~TaskRig() { media::CameraRegistry::DestroyAll(); }
    platform::Message Open(int cell, const std::string& id, const std::string& ip, int port,
                           std::uint64_t window = 0, bool reconnect = false) {
        OpenRequest request{cell, window, id, ip, port, reconnect};
        return platform::Message(kTaskOpenCamera, 0, 0, platform::MakePayload(std::move(request)));
    }
    // (message, cell, code, camera id) of each notice.
    std::vector<std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t, std::string>> Notices() {
        std::vector<std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t, std::string>> out;
        for (auto& m : notices.Take()) {
            const auto* id = platform::PayloadAs<std::string>(m);
            out.emplace_back(m.id, m.wParam, m.lParam, id ? *id : std::string("-"));
        }
        return out;
    }
    ReconnectionTable table;
    LiveTaskEnvironment environment;
    Outbox notices;
    control::TransportAddress reply = Address(1, "127.0.0.1", "1");
    int requests = 0;
    std::string lastId;
};
}  // namespace

TEST(LiveTasks, OpenFetchesAMissingAddressAndReportsFailures) {
    TaskRig rig;
    auto message = rig.Open(4, "1234", "", 0);
    HandleOpenCamera(message, rig.table, rig.environment);
    EXPECT_EQ(rig.requests, 1);
    EXPECT_EQ(rig.lastId, "1234");
    auto notices = rig.notices.Take();
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].id, kForwardingAddressFetched);
    auto* fetched = platform::PayloadAs<ForwardingAddressNotice>(notices[0]);
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->ip, "127.0.0.1");
    EXPECT_EQ(fetched->port, 1);
    // Without a cell window the display stage cannot be made: a stage failure, which
    // is reported and not retried.
    EXPECT_EQ(notices[1].id, kAppNotify);
    EXPECT_EQ(notices[1].wParam, 4u);
    EXPECT_EQ(notices[1].lParam, -3);
    EXPECT_EQ(notices[2].id, kCellResult);
    EXPECT_EQ(notices[2].lParam, -3);
    EXPECT_TRUE(rig.table.Snapshot().empty());

    // A filled address asks nothing; another camera in the cell ends its retry.
    rig.table.Add(4, "1234");
    auto other = rig.Open(4, "999", "127.0.0.1", 1);
    HandleOpenCamera(other, rig.table, rig.environment);
    EXPECT_EQ(rig.requests, 1);
    EXPECT_TRUE(rig.table.Snapshot().empty());

    // A missing address is not retried (-7).
    rig.reply = Address(-1, "", "");
    auto missing = rig.Open(6, "55", "", 0);
    HandleOpenCamera(missing, rig.table, rig.environment);
    EXPECT_EQ(rig.table.Snapshot().count(6), 0u);
}

TEST(LiveTasks, CloseNotifiesOnlyWhenAskedAndEndsTheRetry) {
    TaskRig rig;
    rig.table.Add(3, "77");
    platform::Message quiet(kTaskCloseCell, 3, 0);
    HandleCloseCell(quiet, rig.table, rig.environment);
    EXPECT_TRUE(rig.notices.Take().empty());
    EXPECT_TRUE(rig.table.Snapshot().empty());

    platform::Message loud(kTaskCloseCell, 3, 1);
    HandleCloseCell(loud, rig.table, rig.environment);
    auto notices = rig.notices.Take();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0].id, kAppNotify);
    EXPECT_EQ(notices[0].lParam, -5);
    EXPECT_EQ(notices[1].id, kCellResult);
    EXPECT_EQ(notices[1].lParam, kNoPictureClosed) << "the window tells the ten-second rule from a close";
    EXPECT_EQ(notices[1].wParam, 3u);

    // The ten-second rule of a camera the cell no longer shows closes nothing.
    rig.table.Add(3, "77");
    platform::Message stale(kTaskCloseCell, 3, 1, platform::MakePayload(std::string("88")));
    HandleCloseCell(stale, rig.table, rig.environment);
    EXPECT_TRUE(rig.notices.Take().empty());
    EXPECT_EQ(rig.table.Snapshot().size(), 1u) << "the cell still waits for its camera";

    // A request without its record is dropped.
    platform::Message bare(kTaskOpenCamera, 0, 0);
    HandleOpenCamera(bare, rig.table, rig.environment);
    EXPECT_TRUE(rig.notices.Take().empty());
}

// An unreachable forwarding server puts the cell in the reconnection table and is
// reported as reconnecting, not as a failed open, so the window keeps the camera in
// its cell. The supervisor's requests act only while the cell still waits for that
// camera, and a final failure ends the wait.
TEST(LiveTasks, AnUnreachableServerKeepsTheCellWaitingForItsCamera) {
    using Notice = std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t, std::string>;
    constexpr std::uint64_t kWindow = 77;  // any cell window; nothing is drawn
    TaskRig rig;
    auto refused = rig.Open(4, "1234", "127.0.0.1", 1, kWindow);  // nothing listens on port 1
    HandleOpenCamera(refused, rig.table, rig.environment);
    EXPECT_EQ(rig.table.Snapshot(), (std::map<int, std::string>{{4, "1234"}}));
    EXPECT_EQ(rig.Notices(), (std::vector<Notice>{{kAppNotify, 4, kReconnecting, "1234"}}))
        << "no failed-open result that would end the camera in the window";

    // The supervisor's reopen fails the same way: still waiting.
    auto again = rig.Open(4, "1234", "127.0.0.1", 1, kWindow, true);
    HandleOpenCamera(again, rig.table, rig.environment);
    EXPECT_EQ(rig.table.Snapshot(), (std::map<int, std::string>{{4, "1234"}}));
    EXPECT_EQ(rig.Notices(), (std::vector<Notice>{{kAppNotify, 4, kReconnecting, "1234"}}));

    // The user closed the cell meanwhile: a queued reconnection does nothing.
    rig.table.Remove(4);
    auto stale = rig.Open(4, "1234", "", 0, kWindow, true);
    HandleOpenCamera(stale, rig.table, rig.environment);
    EXPECT_EQ(rig.requests, 0);
    EXPECT_TRUE(rig.Notices().empty());
    EXPECT_TRUE(rig.table.Snapshot().empty());

    // A final failure (the server names no address) ends the wait and is reported.
    rig.table.Add(5, "1234");
    rig.reply = Address(-1, "", "");
    auto none = rig.Open(5, "1234", "", 0, kWindow, true);
    HandleOpenCamera(none, rig.table, rig.environment);
    EXPECT_TRUE(rig.table.Snapshot().empty());
    EXPECT_EQ(rig.Notices(), (std::vector<Notice>{{kAppNotify, 5, -7, "1234"}, {kCellResult, 5, -7, "1234"}}));
}
