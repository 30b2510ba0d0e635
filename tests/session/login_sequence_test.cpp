#include <gtest/gtest.h>
#include <future>
#include <mutex>
#include <thread>

#include "core/app_config.h"
#include "session/app_instance.h"
#include "core/message_ids.h"
#include "session/camera_hooks.h"
#include "core/log_file.h"
#include "session/login_sequence.h"
#include "control/fake_proxy.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

using control::ControlMessage;
using testing_support::FakeProxy;

namespace {

struct Step {
    std::uintptr_t progress;
    std::string text;
};

class LoginSequenceTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        UseTimeouts(5000, 10000);  // upper bounds a passing login never waits for
        core::AppConfig& config = core::AppConfig::Instance();
        config = core::AppConfig();
        config.serverList = {"127.0.0.1"};
        config.serverPort = proxy.MasterPort();
        config.serverPath = "/m";
        config.currentUserName = "demo";
        config.currentUserPassword = "pw";
        config.currentUserRemember = true;
        window = platform::CreateWindowHandle(
            [this](platform::Message& message) -> std::intptr_t {
                if (message.id != core::kAppNotify) return 0;
                auto* text = platform::PayloadAs<std::string>(message);
                steps.push_back({message.wParam, text ? *text : ""});
                return 0;
            },
            executor);
        session::CAppInteance::Instance().SetNotifyWindow(window);
    }
    void TearDown() override {
        session::CAppInteance::Destroy();
        platform::DestroyWindowHandle(window);
        core::LogFile::Destroy();
        platform::SetProgramDirectory("");
    }

    // Time-outs of the clients made from now on; short only where the time-out is tested.
    static void UseTimeouts(std::uint32_t requestMs, std::uint32_t listMs) {
        control::ControlClient::Timing timing;
        timing.requestTimeoutMs = requestMs;
        timing.listTimeoutMs = listMs;
        timing.http.readTimeoutMs = 5000;
        control::ControlClient::SetTimingForNewClients(timing);
    }

    int Run(const std::atomic<bool>* cancelled = nullptr) {
        std::atomic<int> result{-1};
        std::thread login([&] { result = session::RunLoginSequence(cancelled); });
        executor->RunUntil([&] { return result != -1; }, 10000);
        login.join();
        executor->RunPending();
        return result;
    }

    void AnswerLoginWith(int status, int listChunks = 1) {
        proxy.SetScript([status, listChunks](const ControlMessage& request) -> std::vector<std::string> {
            Json::Value params;
            if (request.msgType == 2) {
                params["status"] = status;
                params["userId"] = "u";
                return {FakeProxy::Reply(request.id, 2, params)};
            }
            if (request.msgType == 29 && listChunks > 0) {
                params["status"] = 1;
                params["nodeIdList"] = "n1;";
                params["nodeNameList"] = "总部;";
                params["cameraCountList"] = "1;0";
                params["cameraOnlineCountList"] = "1;0";
                params["cameraIdList"] = ";c1";
                params["cameraActiveList"] = ";1";
                params["parentIdList"] = "0;n1";
                params["end"] = "1";
                return {FakeProxy::Reply(request.id, 29, params)};
            }
            return {};
        });
    }

    std::string Log() {
        core::LogFile::Destroy();
        return dir.Read("appLogs/Manage.log");
    }

    testing_support::TempDir dir;
    FakeProxy proxy;
    std::shared_ptr<platform::LoopExecutor> executor = std::make_shared<platform::LoopExecutor>();
    platform::WindowHandle window = 0;
    std::vector<Step> steps;
};

}  // namespace

TEST_F(LoginSequenceTest, SuccessfulLoginReportsEveryStepAndFillsTheItemTable) {
    AnswerLoginWith(1);
    ASSERT_EQ(Run(), 1);
    std::vector<std::uintptr_t> progress;
    for (auto& step : steps) progress.push_back(step.progress);
    EXPECT_EQ(progress, (std::vector<std::uintptr_t>{10, 50, 60, 80, 90, 0}));
    EXPECT_EQ(steps[0].text, "初始化...");
    EXPECT_EQ(steps[3].text, "检测升级...");
    EXPECT_EQ(steps[4].text, "获取列表...");
    auto& items = session::CAppInteance::Instance().Items();
    ASSERT_EQ(items.Count(), 2u);
    EXPECT_EQ(items.Get(0)->name, "总部");
    EXPECT_EQ(items.Get(1)->id, "c1");
    // The user is remembered at the front of appUser.ini.
    core::AppConfig reloaded;
    reloaded.LoadSavedUsers();
    ASSERT_FALSE(reloaded.savedUsers.empty());
    EXPECT_EQ(reloaded.savedUsers[0].name, "demo");
}

TEST_F(LoginSequenceTest, EachRefusalGivesItsTextAndLogLine) {
    const struct {
        int status;
        const char* text;
        bool logged;
    } cases[] = {{2, "不是Kelvo账号！", false},
                 // A status nobody knows does not go on without a session (no log line:
                 // the log keeps every case's, so the unlogged ones come first).
                 {7, "登录失败，无法识别服务器的应答（7）！", false},
                 {-1, "登录失败，用户名或密码错误！", true},
                 {-2, "登录失败，账号已过期！", true},
                 {-3, "已达到用户最大登录数！", true},
                 {-9, "登录失败，无法识别服务器的应答（-9）！", true}};
    for (const auto& c : cases) {
        steps.clear();
        AnswerLoginWith(c.status);
        control::ControlClient::Destroy();
        EXPECT_EQ(Run(), 0) << c.status;
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back().progress, core::kLoginFailed);
        EXPECT_EQ(steps.back().text, c.text);
        const bool logged = Log().find(":username or password or expiredDate or onlineMax error\n") != std::string::npos;
        EXPECT_EQ(logged, c.logged) << c.status;
    }
}

// The login window closed while the sequence ran: it stops at its next step, saves no
// user, starts no updater, fetches no list and reports nothing more.
TEST_F(LoginSequenceTest, CancelledSequenceStopsQuietlyAndLeavesNoTrace) {
    std::atomic<bool> cancelled{false};
    auto loginOk = [](const ControlMessage& request) -> std::vector<std::string> {
        Json::Value params;
        params["status"] = 1;
        params["userId"] = "u";
        return {FakeProxy::Reply(request.id, 2, params)};
    };
    proxy.SetScript([&](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType != 2) return {};
        cancelled = true;  // closed while the login request was out
        return loginOk(request);
    });
    EXPECT_EQ(Run(&cancelled), 0);
    std::vector<std::uintptr_t> progress;
    for (auto& step : steps) progress.push_back(step.progress);
    EXPECT_EQ(progress, (std::vector<std::uintptr_t>{10, 50, 60})) << "no failure text, no further step";
    EXPECT_EQ(dir.Read("appUser.ini"), "") << "the user is not saved";
    EXPECT_EQ(proxy.CountRequests(29), 0) << "no list is fetched";
    EXPECT_EQ(session::CAppInteance::Instance().Items().Count(), 0u);

    // Closed while the list was awaited: the window's cancel destroys the client,
    // which ends the wait at once instead of after the list's time-out.
    control::ControlClient::Destroy();
    control::ControlClient::Timing slow;
    slow.requestTimeoutMs = 1000;
    slow.listTimeoutMs = 20000;
    control::ControlClient::SetTimingForNewClients(slow);
    cancelled = false;
    steps.clear();
    proxy.SetScript([&](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType == 2) return loginOk(request);
        if (request.msgType == 29) {
            cancelled = true;
            control::ControlClient::Destroy();
        }
        return {};
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(&cancelled), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back().progress, 90u) << "neither success nor a failure text follows";
    EXPECT_EQ(session::CAppInteance::Instance().Items().Count(), 0u);
}

TEST_F(LoginSequenceTest, UnansweredLoginReportsTheTimeout) {
    UseTimeouts(300, 10000);
    proxy.SetScript(nullptr);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(steps.back().text, "登录代理服务器超时，请检查服务器网络状态！");
}

TEST_F(LoginSequenceTest, UnreachableMasterAndProxyGiveTheirTexts) {
    core::AppConfig::Instance().serverList = {"127.0.0.2"};
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(steps.back().text, "连接总控服务器失败，请检查网络连接是否正常！");
    EXPECT_NE(Log().find(":link server error\n"), std::string::npos);
}

TEST_F(LoginSequenceTest, MissingListFailsTheLogin) {
    UseTimeouts(5000, 300);
    AnswerLoginWith(1, 0);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(steps.back().text, "获取列表失败");
}

// At teardown the cameras are closed once the task threads have finished: an open
// task still running would otherwise reopen a camera behind the closing of all.
TEST_F(LoginSequenceTest, CameraHooksCreateTheRegistryMarkLiveRowsAndCloseAfterTheTasksAtTeardown) {
    std::mutex journalMutex;
    std::vector<std::string> journal;
    auto note = [&](std::string line) {
        std::lock_guard lock(journalMutex);
        journal.push_back(std::move(line));
    };
    session::CameraHooks hooks;
    hooks.createRegistry = [&] { note("create after " + std::to_string(steps.back().progress)); };
    hooks.isLive = [](const std::string& id) { return id == "c1"; };
    hooks.destroyAll = [&] {
        const bool tasksTaken = session::CAppInteance::PostTaskIfAlive(platform::Message(core::kTaskOpenCamera));
        note(std::string("destroy, control client ") + (control::ControlClient::Exists() ? "alive" : "gone") +
             (tasksTaken ? ", tasks taken" : ""));
    };
    session::InstallCameraHooks(hooks);
    AnswerLoginWith(1);
    ASSERT_EQ(Run(), 1);
    EXPECT_EQ(steps[2].progress, 60u);
    auto& items = session::CAppInteance::Instance().Items();
    ASSERT_EQ(items.Count(), 2u);
    EXPECT_TRUE(items.Get(1)->live) << "the open camera's row is live";

    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    session::CAppInteance::Instance().Dispatcher().Register(core::kTaskOpenCamera, [&, released](platform::Message&) {
        started.set_value();
        released.wait();
        note("open task");
    });
    ASSERT_TRUE(session::CAppInteance::Instance().PostTask(platform::Message(core::kTaskOpenCamera)));
    started.get_future().wait();
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.set_value();
    });
    session::CAppInteance::Destroy();
    releaser.join();
    session::InstallCameraHooks({});
    std::lock_guard lock(journalMutex);
    EXPECT_EQ(journal, (std::vector<std::string>{"create after 50", "open task", "destroy, control client alive"}));
}
