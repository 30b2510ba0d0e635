// The proxy's answers to what the main window asks at start-up and from its dialogs:
// sub-accounts (43), user groups (63), messages (60), feedback (51) and account
// changes (42), from the seeded database.
#include <gtest/gtest.h>

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
