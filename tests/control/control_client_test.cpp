#include <gtest/gtest.h>
#include <thread>

#include "core/message_ids.h"
#include "control/control_client.h"
#include "control/fake_proxy.h"
#include "platform/paths.h"
#include "platform/tick.h"
#include "support/temp_dir.h"

using control::ControlClient;
using control::ControlMessage;
using testing_support::FakeProxy;

namespace {

ControlClient::Timing FastTiming() {
    ControlClient::Timing timing;
    timing.keepAliveWakeMs = 20;
    timing.heartbeatAfterMs = 150;
    // Upper bounds a passing test never waits for: a loaded machine may hold a reply
    // back for a while, and only the test of the down count shortens it.
    timing.downAfterMs = 10000;
    timing.requestTimeoutMs = 5000;
    timing.listTimeoutMs = 5000;
    timing.proxyConnectTimeoutMs = 5000;
    timing.http.connectTimeoutMs = 5000;
    timing.http.readTimeoutMs = 5000;
    return timing;
}

Json::Value LoginOk(int status = 1) {
    Json::Value params;
    params["status"] = status;
    params["userId"] = "u-1";
    params["uploadUrl"] = "http://pics/";
    params["enableList"] = "101;103";
    params["showMsg"] = "欢迎";
    return params;
}

class ControlClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetProgramDirectory(dir.Path());
        config.serverList = {"127.0.0.1"};
        config.serverPort = proxy.MasterPort();
        config.serverPath = "/master";
        config.currentUserName = "demo";
        config.currentUserPassword = "123456";
        proxy.SetScript([](const ControlMessage& request) -> std::vector<std::string> {
            if (request.msgType == 2) return {FakeProxy::Reply(request.id, 2, LoginOk())};
            if (request.msgType == 1) return {FakeProxy::Reply(request.id, 1, Json::Value(Json::objectValue))};
            return {};
        });
    }
    void TearDown() override { platform::SetProgramDirectory(""); }

    testing_support::TempDir dir;
    core::AppConfig config;
    FakeProxy proxy;
};

}  // namespace

TEST(GenericIds, CountUpAndWrapToOne) {
    EXPECT_EQ(control::NextGenericId(0), 1);
    EXPECT_EQ(control::NextGenericId(0x7FFFFFF8), 0x7FFFFFF9);
    EXPECT_EQ(control::NextGenericId(0x7FFFFFF9), 1);
}

TEST_F(ControlClientTest, LoginSendsExactBytesAndAcceptsTheReply) {
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    EXPECT_EQ(proxy.Master().Paths().at(0), "/master_demo");
    EXPECT_EQ(client.Login(), 1);
    EXPECT_TRUE(client.IsLoggedIn());
    const core::LoginSession session = config.Session();
    EXPECT_EQ(session.userId, "u-1");
    EXPECT_EQ(session.noticeText, "欢迎");
    EXPECT_EQ(session.loginUserName, "demo");
    EXPECT_EQ(session.featureSwitches, (std::array<std::uint8_t, 4>{1, 0, 1, 0}));
    EXPECT_EQ(session.accountKind, 1);

    std::string raw = proxy.RawRequests().at(0);
    auto decoded = control::DecodeMessage(raw.data(), raw.size());
    ASSERT_TRUE(decoded);
    // MD5("123456") in upper case, written out by hand.
    const std::string expected = std::string(1, '\0') + "{\"id\":" + std::to_string(decoded->id) +
                                 ",\"msgType\":2,\"params\":{\"oemId\":\"1\",\"password\":"
                                 "\"E10ADC3949BA59ABBE56E057F20F883E\",\"userName\":\"demo\",\"ver\":\"1.1.1\"},"
                                 "\"realm\":1}\n";
    EXPECT_EQ(raw, expected);
}

TEST_F(ControlClientTest, ScrambledLoginReplyIsAcceptedLikeAPlainOne) {
    proxy.SetScript([](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType == 2) return {FakeProxy::Reply(request.id, 2, LoginOk(2), true)};
        return {};
    });
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    EXPECT_EQ(client.Login(), 2) << "status 2 is accepted by the request itself";
    EXPECT_EQ(config.AccountKind(), 2);
}

TEST_F(ControlClientTest, RefusedLoginLeavesTheConfigurationAlone) {
    proxy.SetScript([](const ControlMessage& request) -> std::vector<std::string> {
        Json::Value params;
        params["status"] = -2;
        params["userId"] = "nobody";
        return {FakeProxy::Reply(request.id, 2, params)};
    });
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    EXPECT_EQ(client.Login(), -2);
    EXPECT_FALSE(client.IsLoggedIn());
    EXPECT_EQ(config.UserId(), "");
}

TEST_F(ControlClientTest, UnansweredLoginTimesOutWithZero) {
    proxy.SetScript(nullptr);
    auto timing = FastTiming();
    timing.requestTimeoutMs = 100;
    ControlClient client(timing, config);
    ASSERT_EQ(client.Connect(), 0);
    EXPECT_EQ(client.Login(), 0);
}

TEST_F(ControlClientTest, MasterLookupFallsThroughAddresses) {
    // 127.0.0.2 has no master listening: -1; then the real master names a proxy port
    // that refuses: -2.
    testing_support::TinyHttpServer refusedProxyMaster([](const std::string&) {
        return std::string("{\"ip\":\"127.0.0.1\",\"port\":\"1\",\"status\":\"IDEL\"}");
    });
    config.serverList = {"127.0.0.2", "127.0.0.1"};
    config.serverPort = refusedProxyMaster.Port();
    ControlClient client(FastTiming(), config);
    EXPECT_EQ(client.Connect(), -2);
    EXPECT_FALSE(client.IsConnected());

    config.serverList = {"127.0.0.2"};
    EXPECT_EQ(client.Connect(), -1);
}

TEST_F(ControlClientTest, LookupAnswersWithoutUsableProxyCountAsMasterFailure) {
    testing_support::TinyHttpServer busy([](const std::string& path) {
        if (path.find("lower") != std::string::npos) return std::string("{\"ip\":\"127.0.0.1\",\"port\":\"5\",\"status\":\"idel\"}");
        return std::string("{\"ip\":\"\",\"port\":\"5\",\"status\":\"IDEL\"}");
    });
    config.serverPort = busy.Port();
    ControlClient client(FastTiming(), config);
    EXPECT_EQ(client.Connect(), -1);
    config.currentUserName = "lower";
    EXPECT_EQ(client.Connect(), -1) << "only the exact word IDEL names a usable proxy";
}

TEST_F(ControlClientTest, ListChunksAreJoinedWithSeparators) {
    proxy.SetScript([](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType == 2) return {FakeProxy::Reply(request.id, 2, LoginOk())};
        if (request.msgType != 29) return {};
        EXPECT_EQ(request.Param("userId"), "u-1");
        std::vector<std::string> replies;
        // The first chunk holds one node only, so its camera-id list is empty.
        const char* nodeIds[] = {"n1", ";", ""};
        const char* cameraIds[] = {"", "c1;c2", "c3"};
        for (int i = 0; i < 3; ++i) {
            Json::Value params;
            params["status"] = 1;
            params["nodeIdList"] = nodeIds[i];
            params["cameraIdList"] = cameraIds[i];
            params["end"] = i == 2 ? "1" : "0";
            replies.push_back(FakeProxy::Reply(request.id, 29, params));
        }
        return replies;
    });
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(client.Login(), 1);
    control::CameraListReply list;
    ASSERT_TRUE(client.FetchCameraList(list));
    EXPECT_EQ(list.lists[control::CameraListReply::kNodeId], "n1;;;");
    EXPECT_EQ(list.lists[control::CameraListReply::kCameraId], ";c1;c2;c3");
    EXPECT_EQ(list.lists[control::CameraListReply::kParentId], ";;") << "missing keys join as empty items";
}

TEST_F(ControlClientTest, AlarmSearchStopsAtFirstIncompleteRowAndPrefixesPictures) {
    proxy.SetScript([](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType == 2) return {FakeProxy::Reply(request.id, 2, LoginOk())};
        if (request.msgType != 8) return {};
        EXPECT_EQ(request.params.count("cameraId"), 0u);
        Json::Value p;
        p["nodeIdList"] = "n;n;n;n";
        p["nodeNameList"] = "N;N;N;N";
        p["cameraIdList"] = "c;c;c;c";
        p["cameraNameList"] = "C;C;C;C";
        p["kindNameList"] = "移动侦测;k;k;k";
        p["msgList"] = "m;m;;m";
        p["pictureList"] = "a.jpg;;x;y";
        p["datetimeList"] = "t1;t2;t3;t4";
        return {FakeProxy::Reply(request.id, 8, p)};
    });
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(client.Login(), 1);
    control::AlarmSearchResult result;
    ASSERT_TRUE(client.SearchAlarms("2026-12-01 00:00:00", "2026-12-08 00:00:00", "n", "", result));
    ASSERT_EQ(result.Size(), 2u);
    EXPECT_EQ(result.pictureUrls[0], "http://pics/a.jpg");
    EXPECT_EQ(result.pictureUrls[1], "") << "an empty picture gives an empty address";
    EXPECT_EQ(result.kindNames[0], "移动侦测");
}

TEST_F(ControlClientTest, RoutingReachesSubscribersHandlersDefaultAndCallback) {
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);

    auto executor = std::make_shared<platform::LoopExecutor>();
    std::atomic<int> windowGot{0};
    platform::WindowHandle window = platform::CreateWindowHandle(
        [&](platform::Message& message) -> std::intptr_t {
            auto* copy = platform::PayloadAs<ControlMessage>(message);
            if (message.id == core::kControlReply && message.lParam == 1 && copy &&
                copy->Param("cameraId") == "c9")
                ++windowGot;
            return 0;
        },
        executor);
    client.SubscribeRenewal(window);
    std::atomic<int> defaults{0}, typed{0}, notified{0};
    client.SetDefaultHandler([&](const ControlMessage&) { ++defaults; });
    client.RegisterHandler(43, [&](const ControlMessage&) { ++typed; });
    client.InstallNotificationCallback(
        [&](std::int64_t, int msgType, const std::map<std::string, std::string>&, void* user) {
            if (user == &notified) ++notified;
        },
        &notified);

    // The service side learns of the connection on its own thread.
    ASSERT_TRUE(proxy.WaitUntil([&] { return proxy.Accepted() == 1; }));
    Json::Value renewal;
    renewal["cameraId"] = "c9";
    // Connect returns when the client is connected; the proxy may take a moment more
    // to register the connection its pushes go to.
    ASSERT_TRUE(proxy.WaitUntil([&] { return proxy.Accepted() >= 1; }));
    proxy.Push(FakeProxy::Reply(5, 74, renewal));
    proxy.Push(FakeProxy::Reply(6, 43, Json::Value(Json::objectValue)));
    proxy.Push(std::string("\x01{not json", 10));
    executor->RunUntil([&] { return notified == 2; }, 5000);
    EXPECT_EQ(windowGot, 1);
    EXPECT_EQ(typed, 1);
    EXPECT_EQ(defaults, 1) << "the 74 reply had no handler of its own";
    EXPECT_EQ(notified, 2) << "the undecodable message is dropped";
    client.UnsubscribeRenewal(window);
    platform::DestroyWindowHandle(window);
}

TEST_F(ControlClientTest, RequestsFailAtOnceWhenNotConnectedAndOversizedAreRefused) {
    ControlClient client(FastTiming(), config);
    EXPECT_EQ(client.SendGenericRequest(43, {{"start", "0"}}), 0);
    EXPECT_EQ(client.RequestForwardingAddress("c1").status, -1);
    ASSERT_EQ(client.Connect(), 0);
    std::map<std::string, std::string> huge{{"content", std::string(ControlClient::kSendBufferSize, 'x')}};
    EXPECT_EQ(client.SendGenericRequest(51, huge), 0);
    std::int32_t id = client.SendGenericRequest(51, {{"content", "ok"}});
    EXPECT_GT(id, 0);
    EXPECT_EQ(client.SendGenericRequest(51, {{"content", "ok"}}), control::NextGenericId(id));
}

TEST_F(ControlClientTest, KeepAliveSendsHeartbeatsAfterSilence) {
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(client.Login(), 1);
    ASSERT_TRUE(proxy.WaitUntil([&] { return proxy.CountRequests(1) >= 2; }));
    EXPECT_TRUE(client.IsConnected()) << "answered heartbeats keep the connection up";
}

TEST_F(ControlClientTest, SilentProxyIsMarkedDownAndKeepAliveReconnectsAndLogsInAgain) {
    auto timing = FastTiming();
    timing.downAfterMs = 400;
    ControlClient client(timing, config);
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(client.Login(), 1);
    proxy.SetScript([](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType == 2) return {FakeProxy::Reply(request.id, 2, LoginOk())};
        return {};  // heartbeats go unanswered
    });
    ASSERT_TRUE(proxy.WaitUntil([&] { return proxy.Accepted() >= 2 && proxy.CountRequests(2) >= 2; }));
}

TEST_F(ControlClientTest, DroppedConnectionIsReconnectedAndLoggedInAgain) {
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(client.Login(), 1);
    proxy.DropAll();
    ASSERT_TRUE(proxy.WaitUntil([&] { return proxy.Accepted() >= 2 && proxy.CountRequests(2) >= 2; }));
    std::uint32_t start = platform::TickCount();
    while (!client.IsConnected() && platform::TickSince(start) < 3000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(client.IsConnected());
}

// Switching user destroys the client while task threads, the supervisor, a tree
// refresh and an alarm search still wait inside requests to a slow service: each of
// them returns at once with a failure, and the client is freed only after the last.
TEST_F(ControlClientTest, DestroyWhileRequestsWaitEndsThemWithoutFreeingTheClientUnderThem) {
    proxy.SetScript([](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType == 2) return {FakeProxy::Reply(request.id, 2, LoginOk())};
        return {};  // every other request goes unanswered
    });
    core::AppConfig& global = core::AppConfig::Instance();
    const core::AppConfig saved = global;
    global = config;
    ControlClient::Timing slow = FastTiming();
    slow.requestTimeoutMs = 20000;
    slow.listTimeoutMs = 20000;
    ControlClient::SetTimingForNewClients(slow);
    {
        auto client = ControlClient::Shared();
        ASSERT_EQ(client->Connect(), 0);
        ASSERT_EQ(client->Login(), 1);
    }

    std::atomic<int> returned{0};
    std::vector<std::thread> callers;
    callers.emplace_back([&] {
        control::CameraListReply list;
        const auto client = ControlClient::Current();
        EXPECT_FALSE(client && client->FetchCameraList(list));
        ++returned;
    });
    callers.emplace_back([&] {
        const auto client = ControlClient::Current();
        EXPECT_EQ(client ? client->RequestForwardingAddress("c1").status : 0, -1);
        ++returned;
    });
    callers.emplace_back([&] {
        control::AlarmSearchResult result;
        const auto client = ControlClient::Current();
        EXPECT_FALSE(client && client->SearchAlarms("a", "b", "n", "", result));
        ++returned;
    });
    ASSERT_TRUE(proxy.WaitUntil(
        [&] { return proxy.CountRequests(29) == 1 && proxy.CountRequests(5) == 1 && proxy.CountRequests(8) == 1; }));
    std::weak_ptr<ControlClient> watch = ControlClient::Current();

    const auto start = std::chrono::steady_clock::now();
    ControlClient::Destroy();
    EXPECT_FALSE(ControlClient::Exists());
    for (auto& caller : callers) caller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "the waits end at once";
    EXPECT_EQ(returned.load(), 3);
    EXPECT_TRUE(watch.expired()) << "freed by the last caller";

    // A client held past its shut-down neither sends nor reconnects.
    const int accepted = proxy.Accepted();
    auto held = ControlClient::Shared();
    held->Shutdown();
    EXPECT_EQ(held->Connect(), -1);
    EXPECT_EQ(held->SendGenericRequest(43, {}), 0);
    EXPECT_EQ(proxy.Accepted(), accepted);
    held.reset();
    ControlClient::Destroy();
    ControlClient::SetTimingForNewClients(ControlClient::Timing{});
    global = saved;
}

// The camera list: a runaway answer fails instead of growing without end, and
// chunks that come when no request waits are dropped.
TEST_F(ControlClientTest, CameraListIsBoundedAndLateChunksAreDropped) {
    std::atomic<int> chunkBytes{10};
    proxy.SetScript([&](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType == 2) return {FakeProxy::Reply(request.id, 2, LoginOk())};
        if (request.msgType != 29) return {};
        std::vector<std::string> replies;
        for (int i = 0; i < 3; ++i) {
            Json::Value params;
            params["status"] = 1;
            params["cameraIdList"] = std::string(static_cast<std::size_t>(chunkBytes.load()), 'c');
            params["end"] = i == 2 ? "1" : "0";
            replies.push_back(FakeProxy::Reply(request.id, 29, params));
        }
        return replies;
    });
    auto timing = FastTiming();
    timing.listLimitBytes = 1000;
    timing.listTimeoutMs = 5000;
    ControlClient client(timing, config);
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(client.Login(), 1);
    control::CameraListReply list;
    ASSERT_TRUE(client.FetchCameraList(list));
    EXPECT_EQ(list.lists[control::CameraListReply::kCameraId], "cccccccccc;cccccccccc;cccccccccc");

    chunkBytes = 600;  // 1,800 bytes in all
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.FetchCameraList(list));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "no wait for the time-out";

    // Chunks nobody waits for, more than the limit in all: the next list is unharmed.
    for (int i = 0; i < 5; ++i) {
        Json::Value params;
        params["status"] = 1;
        params["cameraIdList"] = std::string(400, 'x');
        params["end"] = "0";
        proxy.Push(FakeProxy::Reply(1, 29, params));
    }
    // Replies are routed in order: once this one arrived, so had the chunks.
    std::atomic<bool> routed{false};
    client.RegisterHandler(43, [&](const ControlMessage&) { routed = true; });
    proxy.Push(FakeProxy::Reply(1, 43, Json::Value(Json::objectValue)));
    const std::uint32_t pushed = platform::TickCount();
    while (!routed && platform::TickSince(pushed) < 3000) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(routed.load());
    chunkBytes = 10;
    ASSERT_TRUE(client.FetchCameraList(list));
    EXPECT_EQ(list.lists[control::CameraListReply::kCameraId], "cccccccccc;cccccccccc;cccccccccc");
}

// Only a reply with a positive status grants the authorities it names.
TEST_F(ControlClientTest, RefusedAuthorityReplyGrantsNothing) {
    std::atomic<int> status{0};
    proxy.SetScript([&](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType == 2) return {FakeProxy::Reply(request.id, 2, LoginOk())};
        if (request.msgType != 500) return {};
        Json::Value params;
        params["status"] = status.load();
        params["userId"] = "u-1";
        Json::Value names(Json::arrayValue);
        for (const char* name : {"VIDEO_LIVE", "ACCOUNT_ADMIN"}) {
            Json::Value entry;
            entry["name"] = name;
            names.append(entry);
        }
        params["authority"] = names;
        return {FakeProxy::Reply(request.id, 500, params)};
    });
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(client.Login(), 1);
    for (int refused : {0, -1}) {
        status = refused;
        std::string rights = "stale";
        EXPECT_FALSE(client.RequestAuthorityList(rights)) << refused;
        EXPECT_EQ(rights, "") << refused;
    }
    status = 1;
    std::string rights;
    ASSERT_TRUE(client.RequestAuthorityList(rights));
    EXPECT_EQ(rights, "ACCOUNT_ADMIN;VIDEO_LIVE;1;u-1;");
}

// A proxy that drops every connection at once: the dead link never counts as
// connected, even when the loss is reported before Connect has taken it.
TEST_F(ControlClientTest, ConnectionLostAtOnceIsNotTakenAsConnected) {
    proxy.Server().SetAccepting(false);
    ControlClient client(FastTiming(), config);
    for (int round = 0; round < 20; ++round) {
        const int result = client.Connect();
        EXPECT_TRUE(result == 0 || result == -2) << result;
        const std::uint32_t start = platform::TickCount();
        while (client.IsConnected() && platform::TickSince(start) < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(client.IsConnected()) << "round " << round;
    }
}

// The keep-alive's re-login replaces the login data while task threads read the upload
// address and the user id: readers always see one whole login's values (run under
// the thread sanitizer, the old plain fields showed the race).
TEST_F(ControlClientTest, ReloginReplacesLoginDataWhileOtherThreadsReadIt) {
    std::atomic<int> logins{0};
    proxy.SetScript([&](const ControlMessage& request) -> std::vector<std::string> {
        if (request.msgType != 2) return {};
        Json::Value params = LoginOk();
        const bool odd = ++logins % 2 == 1;
        params["uploadUrl"] = odd ? "http://pictures-one.example/upload/" : "http://two/";
        params["userId"] = odd ? "u-1" : "u-2";
        return {FakeProxy::Reply(request.id, 2, params)};
    });
    ControlClient client(FastTiming(), config);
    ASSERT_EQ(client.Connect(), 0);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            const core::LoginSession session = config.Session();
            const bool one = session.uploadUrl == "http://pictures-one.example/upload/" && session.userId == "u-1";
            const bool two = session.uploadUrl == "http://two/" && session.userId == "u-2";
            if (!one && !two && !session.userId.empty()) ++torn;
            if (!config.UploadUrl().empty() && config.UploadUrl().rfind("http://", 0) != 0) ++torn;
        }
    });
    for (int i = 0; i < 40; ++i) ASSERT_EQ(client.Login(), 1);
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}
