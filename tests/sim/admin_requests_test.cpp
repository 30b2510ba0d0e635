// The proxy's answers to what the main window asks at start-up and from its dialogs:
// sub-accounts (43), user groups (63), messages (60), feedback (51) and account
// changes (42), from the seeded database.
#include <gtest/gtest.h>

#include <set>

#include "core/md5.h"
#include "sim/control_service.h"
#include "sim_test_support.h"

using namespace simtest;
using control::ControlMessage;

namespace {

class AdminRequestsTest : public ::testing::Test {
protected:
    AdminRequestsTest() {
        sim::ControlOptions options;
        service_ = std::make_unique<sim::ControlService>(seeded_.store, channel_, scheduler_.Get(), options);
        service_->OnAccept(kConnection);
    }
    ControlMessage Ask(std::int32_t type, std::map<std::string, std::string> params = {}) {
        const std::string wire = Request(++id_, type, std::move(params));
        service_->OnMessage(kConnection, wire.data(), wire.size());
        auto replies = channel_.TakeDecoded();
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? ControlMessage{} : replies[0];
    }
    ControlMessage LogIn(const std::string& user, const std::string& digest = kDemoDigest) {
        return Ask(2, {{"userName", user}, {"password", digest}, {"oemId", "1"}, {"ver", "1.1.1"}});
    }
    static constexpr sim::ConnectionId kConnection = 9;
    SeededStore seeded_;
    RecordingChannel channel_;
    ManualScheduler scheduler_;
    std::unique_ptr<sim::ControlService> service_;
    std::int32_t id_ = 0;
};

}  // namespace

TEST_F(AdminRequestsTest, NothingBeforeALogin) {
    for (int type : {42, 43, 51, 60, 63}) EXPECT_EQ(Ask(type).Param("status"), "-100") << type;
}

TEST_F(AdminRequestsTest, TheHolderListsItsSubAccountsPageByPage) {
    ASSERT_EQ(LogIn("demo").Param("status"), "1");
    const ControlMessage all = Ask(43, {{"start", "0"}, {"count", "100"}});
    EXPECT_EQ(all.Param("status"), "1");
    const auto names = Split(all.Param("userNameList"));
    EXPECT_NE(std::find(names.begin(), names.end(), "zhangwei"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "lina"), names.end());
    EXPECT_EQ(all.Param("total"), std::to_string(names.size()));
    for (const char* key : {"userIdList", "nickList", "expiredDateList", "onlineMaxList", "userGroupIdList", "userGroupNameList"})
        EXPECT_EQ(Split(all.Param(key)).size(), names.size()) << key;
    const ControlMessage page = Ask(43, {{"start", "1"}, {"count", "1"}});
    EXPECT_EQ(Split(page.Param("userNameList")), std::vector<std::string>{names[1]});
    EXPECT_EQ(page.Param("total"), all.Param("total"));
    EXPECT_EQ(Ask(43, {{"start", "zz"}, {"count", "-5"}}).Param("status"), "1") << "odd paging is read as defaults";
}

TEST_F(AdminRequestsTest, ASubAccountHasNoSubAccountsButSeesItsHoldersGroupsAndItsMessages) {
    ASSERT_EQ(LogIn("lina").Param("status"), "1");
    const ControlMessage list = Ask(43, {{"start", "0"}, {"count", "100"}});
    EXPECT_EQ(list.Param("status"), "1");
    EXPECT_EQ(list.Param("total"), "0");
    const ControlMessage groups = Ask(63);
    EXPECT_EQ(groups.Param("status"), "1");
    EXPECT_EQ(Split(groups.Param("userGroupNameList")), (std::vector<std::string>{"值班组", "巡检组"}));
    const ControlMessage messages = Ask(60);
    EXPECT_EQ(messages.Param("status"), "1");
    EXPECT_FALSE(messages.Param("tipIdList").empty());
    EXPECT_EQ(Split(messages.Param("tipTitleList")).size(), Split(messages.Param("tipIdList")).size());
}

TEST_F(AdminRequestsTest, FeedbackIsStoredUnlessEmpty) {
    ASSERT_EQ(LogIn("demo").Param("status"), "1");
    const long long before = seeded_.store.CountRows("feedback");
    EXPECT_EQ(Ask(51, {{"content", "请增加夜间模式"}}).Param("status"), "1");
    EXPECT_EQ(Ask(51, {{"content", ""}}).Param("status"), "-1");
    EXPECT_EQ(seeded_.store.CountRows("feedback"), before + 1);
}

TEST_F(AdminRequestsTest, AnAccountChangesItsOwnPasswordAndLogsInWithTheNewOne) {
    const ControlMessage login = LogIn("demo");
    const std::string userId = login.Param("userId");
    const std::string digest = core::Md5Hex("changed_1");
    EXPECT_EQ(Ask(42, {{"userId", userId}, {"userName", "demo"}, {"password", "not a digest"}}).Param("status"), "-1");
    EXPECT_EQ(Ask(42, {{"userId", "999999"}, {"userName", "x"}, {"password", digest}}).Param("status"), "-1")
        << "not the caller nor one of its sub-accounts";
    EXPECT_EQ(Ask(42, {{"userId", "12abc"}, {"password", digest}}).Param("status"), "-1");
    EXPECT_EQ(Ask(42, {{"userId", userId}, {"userName", "demo"}, {"password", digest}}).Param("status"), "1");
    EXPECT_EQ(LogIn("demo").Param("status"), "-1") << "the old password no longer works";
    EXPECT_EQ(LogIn("demo", digest).Param("status"), "1");
}

TEST_F(AdminRequestsTest, TheHolderSavesASubAccountsFields) {
    ASSERT_EQ(LogIn("demo").Param("status"), "1");
    const ControlMessage list = Ask(43, {{"start", "0"}, {"count", "100"}});
    const auto ids = Split(list.Param("userIdList"));
    const auto names = Split(list.Param("userNameList"));
    const std::string lina = ids[std::find(names.begin(), names.end(), "lina") - names.begin()];
    EXPECT_EQ(Ask(42, {{"userId", lina}, {"nick", "李娜"}, {"onlineMax", "3"}, {"expiredDate", "2030-01-31"}}).Param("status"), "1");
    EXPECT_EQ(Ask(42, {{"userId", lina}, {"onlineMax", "many"}}).Param("status"), "-1");
    EXPECT_EQ(Ask(42, {{"userId", lina}, {"expiredDate", "someday"}}).Param("status"), "-1");
    const ControlMessage after = Ask(43, {{"start", "0"}, {"count", "100"}});
    const auto index = std::find(names.begin(), names.end(), "lina") - names.begin();
    EXPECT_EQ(Split(after.Param("nickList"))[index], "李娜");
    EXPECT_EQ(Split(after.Param("onlineMaxList"))[index], "3");
    EXPECT_EQ(Split(after.Param("expiredDateList"))[index], "2030-01-31");
}

namespace {

// The holder's whole round of administration against one sub-account, then a restart
// of the service on the same database file.
class AdminRoundTest : public AdminRequestsTest {
protected:
    ControlMessage AskOn(sim::ConnectionId connection, std::int32_t type, std::map<std::string, std::string> params) {
        const std::string wire = Request(++id_, type, std::move(params));
        service_->OnMessage(connection, wire.data(), wire.size());
        auto replies = channel_.TakeDecoded();
        return replies.empty() ? ControlMessage{} : replies.back();
    }
    ControlMessage LogInOn(sim::ConnectionId connection, const std::string& user, const std::string& digest) {
        service_->OnAccept(connection);
        return AskOn(connection, 2, {{"userName", user}, {"password", digest}, {"oemId", "1"}, {"ver", "1.1.1"}});
    }
    std::set<std::string> TreeCameras(sim::ConnectionId connection, const std::string& userId) {
        std::set<std::string> ids;
        const std::string wire = Request(++id_, 29, {{"userId", userId}});
        service_->OnMessage(connection, wire.data(), wire.size());
        for (const ControlMessage& reply : channel_.TakeDecoded())
            for (const std::string& id : Split(reply.Param("cameraIdList")))
                if (!id.empty()) ids.insert(id);
        return ids;
    }
    // The group rows of the holder's tree: id -> (name, parent).
    std::map<std::string, std::pair<std::string, std::string>> Groups() {
        std::map<std::string, std::pair<std::string, std::string>> groups;
        const std::string wire = Request(++id_, 29, {{"userId", "10001"}});
        service_->OnMessage(kConnection, wire.data(), wire.size());
        for (const ControlMessage& reply : channel_.TakeDecoded()) {
            const auto ids = Split(reply.Param("nodeIdList")), names = Split(reply.Param("nodeNameList")),
                       parents = Split(reply.Param("parentIdList"));
            for (std::size_t i = 0; i < ids.size(); ++i)
                if (!ids[i].empty() && std::stoll(ids[i]) >= sim::ServiceStore::kFirstGroupId)
                    groups[ids[i]] = {names[i], parents[i]};
        }
        return groups;
    }
};

}  // namespace

TEST_F(AdminRoundTest, TheHoldersRulesHoldAtTheSubAccountsLoginAndSurviveARestart) {
    ASSERT_EQ(LogIn("demo").Param("status"), "1");
    const std::string digest = core::Md5Hex("guard_1");

    // Create: bad names and digests are refused, a taken name gives -2.
    EXPECT_EQ(Ask(40, {{"userName", "guard one"}, {"nick", "x"}, {"password", digest}}).Param("status"), "-1");
    EXPECT_EQ(Ask(40, {{"userName", std::string(40, 'a')}, {"nick", ""}, {"password", digest}}).Param("status"), "-1");
    EXPECT_EQ(Ask(40, {{"userName", "guard"}, {"nick", "x"}, {"password", "plain"}}).Param("status"), "-1");
    EXPECT_EQ(Ask(40, {{"userName", "zhangwei"}, {"nick", "x"}, {"password", digest}}).Param("status"), "-2");
    const ControlMessage added = Ask(40, {{"userName", "guard_1"}, {"nick", "门卫"}, {"password", digest}});
    ASSERT_EQ(added.Param("status"), "1");
    const std::string guard = added.Param("userId");
    EXPECT_EQ(Ask(40, {{"userName", "guard_1"}, {"nick", ""}, {"password", digest}}).Param("status"), "-2");

    // Two cameras of the first site, grouped by node as the permission tree sends them;
    // someone else's camera or node is refused and changes nothing.
    EXPECT_EQ(Ask(45, {{"userId", guard}, {"nodeIdList", "24"}, {"cameraIdList", "99999999"}}).Param("status"), "-1");
    EXPECT_EQ(Ask(45, {{"userId", guard}, {"nodeIdList", "x"}, {"cameraIdList", "31000001"}}).Param("status"), "-1");
    EXPECT_EQ(Ask(45, {{"userId", "10001"}, {"nodeIdList", ""}, {"cameraIdList", ""}}).Param("status"), "-1")
        << "not a sub-account";
    const ControlMessage firstSite = Ask(44, {{"userId", "10002"}});
    const std::string site = Split(firstSite.Param("nodeIdList"))[0];
    ASSERT_EQ(Ask(45, {{"userId", guard}, {"nodeIdList", site}, {"cameraIdList", "31000001;31000002"}}).Param("status"), "1");
    EXPECT_EQ(Ask(44, {{"userId", guard}}).Param("cameraIdList"), "31000001;31000002");
    // Rights: playback only; unknown names are refused.
    EXPECT_EQ(Ask(501, {{"userId", guard}, {"authorityList", "VIDEO_PLAYBACK;ROOT"}}).Param("status"), "-1");
    ASSERT_EQ(Ask(501, {{"userId", guard}, {"authorityList", "VIDEO_PLAYBACK"}}).Param("status"), "1");
    // Expiry with the client's slash separator, one log-in at a time.
    EXPECT_EQ(Ask(42, {{"userId", guard}, {"expiredDate", "2023/02/30"}}).Param("status"), "-1");
    ASSERT_EQ(Ask(42, {{"userId", guard}, {"userName", "guard_1"}, {"nick", "门卫"}, {"expiredDate", "2023/11/14"},
                       {"onlineMax", "1"}, {"userGroupId", "1"}})
                  .Param("status"),
              "1");
    EXPECT_EQ(Ask(42, {{"userId", guard}, {"userName", "lina"}}).Param("status"), "-1") << "a taken name";

    // Its login: only its cameras, only its rights, and no second session.
    constexpr sim::ConnectionId kGuard = 21, kSecond = 22;
    const ControlMessage login = LogInOn(kGuard, "guard_1", digest);
    ASSERT_EQ(login.Param("status"), "1");
    EXPECT_EQ(TreeCameras(kGuard, guard), (std::set<std::string>{"31000001", "31000002"}));
    const ControlMessage rights = AskOn(kGuard, 500, {});
    EXPECT_EQ(rights.Param("VIDEO_PLAYBACK"), "VIDEO_PLAYBACK");
    EXPECT_EQ(rights.Param("CLOUD_DECK"), "") << "no pan-tilt-zoom";
    EXPECT_EQ(rights.Param("MEDIA_PARAMS"), "");
    EXPECT_EQ(AskOn(kGuard, 5, {{"cameraId", "31000003"}}).Param("status"), "-1") << "a camera it was not given";
    EXPECT_EQ(AskOn(kGuard, 40, {{"userName", "sneaky"}, {"nick", ""}, {"password", digest}}).Param("status"), "-1");
    EXPECT_EQ(AskOn(kGuard, 47, {{"cameraId", "31000001"}}).Param("status"), "-2") << "not its own camera";
    EXPECT_EQ(LogInOn(kSecond, "guard_1", digest).Param("status"), "-3");
    service_->OnClosed(kSecond);
    // Expiry: the last day still logs in, the day after does not.
    seeded_.store.SetClock([] { return kReference + 24 * 3600; });
    EXPECT_EQ(LogInOn(kSecond, "guard_1", digest).Param("status"), "-2");
    seeded_.store.SetClock([] { return kReference; });
    service_->OnClosed(kSecond);

    // A plan whose periods exclude now (Tuesday 22:13) closes the camera's open window.
    EXPECT_EQ(Ask(54, {{"templateName", "夜间禁看"}, {"planIndexList", "3;3"}, {"planStartTimeList", "08:00;10:00"},
                       {"planEndTimeList", "10:00;12:00"}})
                  .Param("status"),
              "-1")
        << "touching periods";
    EXPECT_EQ(Ask(54, {{"templateName", "反了"}, {"planIndexList", "3"}, {"planStartTimeList", "18:00"},
                       {"planEndTimeList", "08:00"}})
                  .Param("status"),
              "-1");
    const ControlMessage plan = Ask(54, {{"templateName", "白天"}, {"templateDescription", "仅白天"},
                                         {"planIndexList", "3;3;4"}, {"planStartTimeList", "08:00;13:00;08:00"},
                                         {"planEndTimeList", "12:00;18:00;18:00"}});
    ASSERT_EQ(plan.Param("status"), "1");
    const std::string templateId = plan.Param("templateId");
    EXPECT_EQ(AskOn(kGuard, 55, {{"cameraId", "31000001"}, {"templateId", templateId}}).Param("status"), "-1")
        << "a sub-account assigns nothing";
    ASSERT_EQ(Ask(55, {{"cameraId", "31000001"}, {"templateId", templateId}}).Param("status"), "1");
    EXPECT_FALSE(seeded_.store.StreamingCameraInfo("31000001")->inOpenWindow) << "opening it gives -2";
    EXPECT_EQ(AskOn(kGuard, 58, {{"cameraId", "31000001"}}).Param("count"), "1");
    const ControlMessage shown = AskOn(kGuard, 56, {{"cameraId", "31000001"}});
    EXPECT_EQ(shown.Param("templateName"), "白天");
    EXPECT_EQ(shown.Param("planIndexList"), "3;3;4");
    EXPECT_EQ(shown.Param("planEndTimeList"), "12:00;18:00;18:00");
    EXPECT_EQ(Ask(53, {{"templateId", templateId}, {"start", "1"}, {"count", "500"}}).Param("planStartTimeList"),
              "13:00;08:00");
    // Widened, the picture comes.
    ASSERT_EQ(Ask(54, {{"templateId", templateId}, {"templateName", "全天"}, {"planIndexList", "3"},
                       {"planStartTimeList", "00:00"}, {"planEndTimeList", "23:59"}})
                  .Param("status"),
              "1");
    EXPECT_TRUE(seeded_.store.StreamingCameraInfo("31000001")->inOpenWindow);

    // Camera groups: create, a child, rename and move, add an area, delete.
    const ControlMessage top = Ask(30, {{"virtualNodeName", "仓库"}});
    ASSERT_EQ(top.Param("status"), "1");
    const std::string store = top.Param("virtualNodeId");
    const ControlMessage child = Ask(30, {{"virtualNodeName", "夜班"}, {"parentVirtualNodeId", store}});
    const std::string night = child.Param("virtualNodeId");
    EXPECT_EQ(Groups()[night], (std::pair<std::string, std::string>{"夜班", store}));
    EXPECT_EQ(Ask(30, {{"virtualNodeName", "   "}}).Param("status"), "-1");
    EXPECT_EQ(Ask(30, {{"virtualNodeName", "x"}, {"parentVirtualNodeId", "1"}}).Param("status"), "-1")
        << "a real node is no group";
    EXPECT_EQ(Ask(33, {{"virtualNodeIdList", store}, {"virtualNodeNameList", "仓库"}, {"parentVirtualNodeId", night}})
                  .Param("status"),
              "-1")
        << "never below itself";
    ASSERT_EQ(Ask(33, {{"virtualNodeIdList", night}, {"virtualNodeNameList", "夜间"}}).Param("status"), "1");
    EXPECT_EQ(Groups()[night], (std::pair<std::string, std::string>{"夜间", "0"}));
    ASSERT_EQ(Ask(36, {{"parentVirtualNodeId", night}, {"nodeIdList", site}, {"virtualNodeNameList", "x"}}).Param("status"),
              "1");
    EXPECT_TRUE(TreeCameras(kGuard, guard).count("31000001")) << "the group shows the sub-account its cameras only";
    const ControlMessage areas = Ask(37);
    EXPECT_EQ(Split(areas.Param("nodeIdList")).size(), Split(areas.Param("activeList")).size());
    ASSERT_EQ(Ask(31, {{"virtualNodeId", store}}).Param("status"), "1");
    EXPECT_FALSE(Groups().count(store));
    EXPECT_EQ(Ask(48, {{"virtualNodeId", site}, {"cameraId", "31000002"}, {"cameraName", "侧门"}}).Param("status"), "1");
    EXPECT_EQ(Ask(48, {{"virtualNodeId", site}, {"cameraId", "31000002"}, {"cameraName", ""}}).Param("status"), "-1");

    // A message to it: pushed at once, listed unread, read once opened.
    const std::string send = Request(++id_, 65, {{"userIdList", guard}, {"tipTitle", "交班"}, {"tipContent", "请检查仓库"}});
    service_->OnMessage(kConnection, send.data(), send.size());
    const auto sent = channel_.TakeDecoded();
    ASSERT_EQ(sent.size(), 2u) << "the notice to the logged-in recipient, and the answer";
    EXPECT_EQ(sent[0].msgType, 35);
    EXPECT_EQ(sent[0].Param("tipTitle"), "交班");
    EXPECT_EQ(sent[0].Param("tipContent"), "请检查仓库");
    EXPECT_EQ(sent[1].Param("status"), "1");
    EXPECT_EQ(Ask(65, {{"userIdList", "10001"}, {"tipTitle", "t"}, {"tipContent", "c"}}).Param("status"), "-1");
    EXPECT_EQ(Ask(65, {{"tipTitle", ""}, {"tipContent", "c"}}).Param("status"), "-1");
    const std::string wire = Request(++id_, 60, {});
    service_->OnMessage(kGuard, wire.data(), wire.size());
    const auto guardSide = channel_.TakeDecoded();
    ASSERT_EQ(guardSide.size(), 1u);
    const ControlMessage inbox = guardSide[0];
    ASSERT_EQ(Split(inbox.Param("tipTitleList")), std::vector<std::string>{"交班"});
    EXPECT_EQ(inbox.Param("tipReadList"), "0");
    const std::string tip = inbox.Param("tipIdList");
    EXPECT_EQ(AskOn(kGuard, 61, {{"tipId", tip}}).Param("tipContent"), "请检查仓库");
    EXPECT_EQ(AskOn(kGuard, 60, {}).Param("tipReadList"), "1");
    EXPECT_EQ(AskOn(kGuard, 61, {{"tipId", "1"}}).Param("status"), "-1") << "someone else's message";

    // Restart: a new store and service on the same file keep everything.
    service_.reset();
    sim::ServiceStore reopened;
    reopened.SetClock([] { return kReference; });
    ASSERT_TRUE(reopened.Open(seeded_.dir.File("sim.db"), Seed(40)));
    service_ = std::make_unique<sim::ControlService>(reopened, channel_, scheduler_.Get(), sim::ControlOptions{});
    service_->OnAccept(kConnection);
    ASSERT_EQ(LogIn("demo").Param("status"), "1");
    const ControlMessage list = Ask(43, {{"start", "0"}, {"count", "100"}});
    const auto names = Split(list.Param("userNameList"));
    const auto at = std::find(names.begin(), names.end(), "guard_1") - names.begin();
    ASSERT_LT(static_cast<std::size_t>(at), names.size());
    EXPECT_EQ(Split(list.Param("expiredDateList"))[at], "2023-11-14");
    EXPECT_EQ(Split(list.Param("onlineMaxList"))[at], "1");
    EXPECT_EQ(Split(list.Param("userGroupNameList"))[at], "值班组");
    EXPECT_EQ(Ask(44, {{"userId", guard}}).Param("cameraIdList"), "31000001;31000002");
    EXPECT_EQ(Ask(500, {{"userId", guard}}).Param("VIDEO_PLAYBACK"), "VIDEO_PLAYBACK");
    EXPECT_EQ(Ask(56, {{"cameraId", "31000001"}}).Param("templateName"), "全天");
    EXPECT_EQ(Groups()[night].first, "夜间");
    EXPECT_EQ(LogInOn(kSecond, "guard_1", digest).Param("status"), "1");
    EXPECT_EQ(AskOn(kSecond, 60, {}).Param("tipReadList"), "1");

    // Deleting it takes its grants with it; the name is free again.
    ASSERT_EQ(Ask(41, {{"userId", guard}}).Param("status"), "1");
    EXPECT_EQ(Ask(44, {{"userId", guard}}).Param("status"), "-1");
    EXPECT_EQ(Ask(41, {{"userId", "10001"}}).Param("status"), "-1");
    service_.reset();  // before the store it uses
}

TEST_F(AdminRequestsTest, TheSubAccountLimitAndUserGroups) {
    ASSERT_EQ(LogIn("demo").Param("status"), "1");
    const std::string digest = core::Md5Hex("x");
    int added = 0;
    std::string status;
    while ((status = Ask(40, {{"userName", "u" + std::to_string(added)}, {"nick", ""}, {"password", digest}})
                         .Param("status")) == "1")
        ++added;
    EXPECT_EQ(status, "-3") << "the limit, not another refusal";
    EXPECT_EQ(added, 50 - 2) << "two seeded sub-accounts";
    const ControlMessage group = Ask(62, {{"userGroupName", "夜班组"}});
    ASSERT_EQ(group.Param("status"), "1");
    EXPECT_EQ(Ask(62, {{"userGroupName", "夜班组"}}).Param("status"), "-1") << "a name taken";
    EXPECT_EQ(Ask(62, {{"userGroupId", group.Param("userGroupId")}, {"userGroupName", "早班组"}}).Param("status"), "1");
    EXPECT_EQ(Split(Ask(63).Param("userGroupNameList")), (std::vector<std::string>{"值班组", "巡检组", "早班组"}));
    // Batch: one group for two, then cleared again.
    const std::string ids = "10002;10003";
    EXPECT_EQ(Ask(66, {{"userIdList", ids}, {"userGroupId", group.Param("userGroupId")}, {"onlineMax", "4"},
                       {"expiredDate", "2030/01/01"}})
                  .Param("status"),
              "1");
    EXPECT_EQ(Ask(66, {{"userIdList", "10002;20001"}, {"onlineMax", "1"}}).Param("status"), "-1");
    EXPECT_EQ(Ask(62, {{"deleteUserGroupId", group.Param("userGroupId")}}).Param("status"), "1");
    EXPECT_EQ(Ask(66, {{"userIdList", ids}, {"expiredDate", "1970/01/01"}}).Param("status"), "1");
    const ControlMessage list = Ask(43, {{"start", "0"}, {"count", "2"}});
    EXPECT_EQ(Split(list.Param("userGroupIdList")), (std::vector<std::string>{"0", "0"})) << "the group's members freed";
    EXPECT_EQ(Split(list.Param("onlineMaxList")), (std::vector<std::string>{"4", "4"}));
    EXPECT_EQ(Split(list.Param("expiredDateList")), (std::vector<std::string>{"", ""}));
    const ControlMessage batch = Ask(502, {{"userIdList", "10002;20001"}, {"authorityList", "CLOUD_DECK"}});
    EXPECT_EQ(batch.Param("status"), "-1");
    EXPECT_EQ(batch.Param("failUserIdList"), "20001");
    EXPECT_EQ(Ask(67, {{"userIdList", ids}, {"nodeIdList", ""}, {"cameraIdList", "31000005"}}).Param("status"), "1");
    EXPECT_EQ(Ask(44, {{"userId", "10003"}}).Param("cameraIdList"), "31000005");
}
