#include <gtest/gtest.h>

#include <set>

#include "sim/service_store.h"
#include "sim/sqlite_db.h"
#include "sim_test_support.h"

using namespace simtest;
using sim::Account;
using sim::ServiceStore;

namespace {

Account LoginAs(ServiceStore& store, const std::string& user) {
    Account account;
    EXPECT_EQ(store.CheckLogin(user, kDemoDigest, 1, "2023-11-14", 0, account), sim::kLoginAccepted) << user;
    return account;
}

}  // namespace

TEST(SimStoreSeed, CreatesEveryKindOfRecordOnce) {
    SeededStore s(40);
    ASSERT_TRUE(s.opened) << s.store.LastError();
    EXPECT_EQ(s.store.CountRows("cameras"), 40);
    EXPECT_EQ(s.store.CountRows("nodes"), 23 + 5);  // 3 provinces, 6 cities, 14 districts, 5 sites
    EXPECT_EQ(s.store.CountRows("accounts"), 6);
    EXPECT_EQ(s.store.CountRows("forward_servers"), 2);
    EXPECT_GT(s.store.CountRows("alarms"), 120);
    EXPECT_EQ(s.store.CountRows("recordings"), 40 * 9);
    EXPECT_GT(s.store.CountRows("plan_periods"), 0);
    EXPECT_GT(s.store.CountRows("tips"), 0);
    EXPECT_GT(s.store.CountRows("user_groups"), 0);
    EXPECT_GT(s.store.CountRows("virtual_nodes"), 0);
    EXPECT_EQ(s.store.CountRows("no_such_table"), -1);

    // A second start finds the data and does not seed again.
    const long long alarms = s.store.CountRows("alarms");
    ServiceStore again;
    ASSERT_TRUE(again.Open(s.dir.File("sim.db"), Seed(500)));
    EXPECT_EQ(again.CountRows("cameras"), 40);
    EXPECT_EQ(again.CountRows("alarms"), alarms);
}

TEST(SimStoreSeed, TenThousandCamerasInOneTransaction) {
    SeededStore s(10000);
    ASSERT_TRUE(s.opened) << s.store.LastError();
    EXPECT_EQ(s.store.CountRows("cameras"), 10000);
    EXPECT_EQ(s.store.CountRows("nodes"), 23 + 1250);
    auto rows = s.store.CameraTree(LoginAs(s.store, "demo"));
    EXPECT_EQ(rows.size(), 10000u + 23 + 1250 + 1) << "with the seeded camera group";
    std::set<std::string> ids;
    for (const auto& row : rows)
        if (!row.isNode) ids.insert(row.id);
    EXPECT_EQ(ids.size(), 10000u) << "every camera listed once";
}

TEST(SimStoreSeed, CameraStatesAndForwardingServers) {
    SeededStore s(40);
    auto rows = s.store.CameraTree(LoginAs(s.store, "demo"));
    int online = 0, offline = 0, expired = 0;
    std::set<int> ports;
    for (const auto& row : rows) {
        if (row.isNode) continue;
        if (!row.inService) ++expired;
        else if (row.online) ++online;
        else ++offline;
        EXPECT_EQ(row.transpondIp, "127.0.0.1");
        ports.insert(row.transpondPort);
        EXPECT_EQ(row.expiredDate.size(), 10u);
    }
    EXPECT_GT(online, 0);
    EXPECT_GT(offline, 0);
    EXPECT_GT(expired, 0);
    EXPECT_EQ(ports, (std::set<int>{19001, 19002}));

    ASSERT_TRUE(s.store.SetForwardServers({{"127.0.0.1", 25001}, {"127.0.0.1", 25002}, {"127.0.0.1", 25003}}));
    auto route = s.store.Route(LoginAs(s.store, "demo"), "31000002");
    ASSERT_TRUE(route);
    EXPECT_EQ(route->transpondPort, 25002);
    EXPECT_EQ(s.store.CountRows("forward_servers"), 3);
}

TEST(SimStoreTree, NodesPrecedeTheirCamerasAndCountTheirSubtree) {
    SeededStore s(40);
    auto rows = s.store.CameraTree(LoginAs(s.store, "demo"));
    ASSERT_FALSE(rows.empty());
    EXPECT_TRUE(rows[0].isNode);
    EXPECT_EQ(rows[0].name, "浙江省");
    EXPECT_EQ(rows[0].parentId, "0");
    std::set<std::string> seen;
    int total = 0, totalOnline = 0;
    for (const auto& row : rows) {
        if (row.parentId != "0") {
            EXPECT_TRUE(seen.count(row.parentId)) << "parent listed before " << row.id;
        }
        if (row.isNode) seen.insert(row.id);
        if (!row.isNode) {
            ++total;
            totalOnline += row.online ? 1 : 0;
        }
    }
    int rootCameras = 0, rootOnline = 0;
    for (const auto& row : rows)
        if (row.isNode && row.parentId == "0") {
            rootCameras += row.cameraCount;
            rootOnline += row.onlineCount;
        }
    EXPECT_EQ(rootCameras, total);
    EXPECT_EQ(rootOnline, totalOnline);
}

TEST(SimStoreTree, SubAccountsSeeOnlyPermittedCamerasAndTheirPlaces) {
    SeededStore s(40);
    Account sub = LoginAs(s.store, "zhangwei");
    auto rows = s.store.CameraTree(sub);
    std::set<std::string> cameras;
    for (const auto& row : rows) {
        if (!row.isNode) cameras.insert(row.id);
        if (row.isNode) {
            EXPECT_GT(row.cameraCount, 0) << row.name << " has nothing for this account";
        }
    }
    EXPECT_EQ(cameras.size(), 8u);
    EXPECT_FALSE(s.store.Route(sub, "31000020")) << "a camera outside the permission";
    EXPECT_TRUE(s.store.Route(sub, "31000001"));
    EXPECT_FALSE(s.store.Route(sub, "31000001x"));
    EXPECT_FALSE(s.store.Route(sub, ""));
}

TEST(SimStoreLogin, StatusesAndDigestCheck) {
    SeededStore s(8);
    Account a;
    const std::string today = "2023-11-14";
    EXPECT_EQ(s.store.CheckLogin("demo", kDemoDigest, 1, today, 0, a), sim::kLoginAccepted);
    EXPECT_EQ(a.id, 10001);
    EXPECT_EQ(s.store.CheckLogin("demo", "e744a3aa6019d2b8526d6fc49c5336cf", 1, today, 0, a), sim::kLoginAccepted)
        << "the digest's letter case does not matter";
    EXPECT_EQ(s.store.CheckLogin("demo", "larkview", 1, today, 0, a), sim::kLoginWrongPassword)
        << "a plain password is not a digest";
    EXPECT_EQ(s.store.CheckLogin("demo", "E744A3AA6019D2B8526D6FC49C5336CE", 1, today, 0, a), sim::kLoginWrongPassword);
    EXPECT_EQ(s.store.CheckLogin("nobody", kDemoDigest, 1, today, 0, a), sim::kLoginWrongPassword);
    EXPECT_EQ(s.store.CheckLogin("partner", kDemoDigest, 1, today, 0, a), sim::kLoginForeignAccount);
    EXPECT_EQ(s.store.CheckLogin("expired", kDemoDigest, 1, today, 0, a), sim::kLoginExpired);
    EXPECT_EQ(s.store.CheckLogin("busy", kDemoDigest, 1, today, 0, a), sim::kLoginOnlineMaximum);
    // zhangwei may hold two logins at once.
    EXPECT_EQ(s.store.CheckLogin("zhangwei", kDemoDigest, 1, today, 1, a), sim::kLoginAccepted);
    EXPECT_EQ(s.store.CheckLogin("zhangwei", kDemoDigest, 1, today, 2, a), sim::kLoginOnlineMaximum);
    EXPECT_EQ(a.parentId, 10001);
    EXPECT_TRUE(a.scrambleReplies);
}

TEST(SimStoreAlarms, SearchFiltersByTimeCameraAndNode) {
    SeededStore s(40);
    Account demo = LoginAs(s.store, "demo");
    sim::AlarmQuery day{"2023-11-14 00:00:00", "2023-11-14 23:59:59", "", "31000001"};
    auto rows = s.store.SearchAlarms(demo, day);
    ASSERT_EQ(rows.size(), 120u);
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LE(rows[i - 1].time, rows[i].time);
    EXPECT_EQ(rows[0].cameraId, "31000001");
    EXPECT_EQ(rows[0].nodeId, "24");
    EXPECT_EQ(rows[0].picture, "alarm_" + std::to_string(rows[0].id) + ".jpg");

    sim::AlarmQuery morning{"2023-11-14 06:00:00", "2023-11-14 06:59:59", "", "31000001"};
    auto early = s.store.SearchAlarms(demo, morning);
    EXPECT_EQ(early.size(), 9u);  // one every seven minutes from 06:00:13

    sim::AlarmQuery everything{"2023-11-01 00:00:00", "2023-11-30 00:00:00", "", ""};
    auto all = s.store.SearchAlarms(demo, everything);
    EXPECT_EQ(static_cast<long long>(all.size()), s.store.CountRows("alarms"));

    sim::AlarmQuery byNode = everything;
    byNode.nodeId = "6";  // 宁波市: the fourth and fifth sites, cameras 25 to 40
    auto inCity = s.store.SearchAlarms(demo, byNode);
    EXPECT_GT(inCity.size(), 0u);
    EXPECT_LT(inCity.size(), all.size());
    for (const auto& row : inCity) EXPECT_GE(row.cameraId, "31000025");
    byNode.nodeId = "24";
    for (const auto& row : s.store.SearchAlarms(demo, byNode)) EXPECT_EQ(row.nodeId, "24");

    sim::AlarmQuery limited = everything;
    limited.limit = 7;
    EXPECT_EQ(s.store.SearchAlarms(demo, limited).size(), 7u);

    Account sub = LoginAs(s.store, "zhangwei");
    for (const auto& row : s.store.SearchAlarms(sub, everything)) EXPECT_LE(row.cameraId, "31000008");

    byNode.nodeId = "bad";
    EXPECT_TRUE(s.store.SearchAlarms(demo, byNode).empty());
}

TEST(SimStoreAlarms, AddedAlarmsAreSearchable) {
    SeededStore s(8);
    Account demo = LoginAs(s.store, "demo");
    auto added = s.store.AddAlarm("31000003", "区域入侵", "有人进入", "2023-11-14 23:00:00");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->cameraName, "仓库通道");
    auto found = s.store.SearchAlarms(demo, {"2023-11-14 22:59:00", "2023-11-14 23:01:00", "", ""});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, added->id);
    EXPECT_FALSE(s.store.AddAlarm("99999999", "x", "y", "2023-11-14 23:00:00"));
}

TEST(SimStorePlayback, RangesOverlappingTheWindowAndAFreshId) {
    SeededStore s(8);
    Account demo = LoginAs(s.store, "demo");
    auto setup = s.store.SetUpPlayback(demo, "31000001", "2023-11-13 00:00:00", "2023-11-13 12:45:00");
    ASSERT_TRUE(setup);
    ASSERT_EQ(setup->ranges.size(), 2u);
    EXPECT_EQ(setup->ranges[0], std::make_pair(std::string("2023-11-13 08:00:00"), std::string("2023-11-13 09:00:00")));
    EXPECT_EQ(setup->ranges[1].first, "2023-11-13 12:30:00");
    EXPECT_EQ(setup->transpondPort, 19001);
    auto second = s.store.SetUpPlayback(demo, "31000001", "2023-11-13 00:00:00", "2023-11-13 12:45:00");
    ASSERT_TRUE(second);
    EXPECT_NE(second->playbackId, setup->playbackId);
    EXPECT_FALSE(s.store.SetUpPlayback(LoginAs(s.store, "zhangwei"), "31000020", "2023-11-13 00:00:00",
                                       "2023-11-13 12:45:00"));
}

TEST(SimStorePlayback, ADatabaseOpenedDaysLaterHasRecordedSince) {
    SeededStore s(8);
    ASSERT_TRUE(s.opened);
    const long long seeded = s.store.CountRows("recordings");
    // Reopened ten days on with the service's own clock: the last three days are
    // recorded, three recordings a day for each camera that records.
    constexpr std::time_t kDay = 24 * 3600;
    sim::ServiceStore later;
    later.SetClock([] { return kReference + 10 * kDay; });
    sim::SeedOptions unpinned = Seed(8);
    unpinned.referenceTime = 0;
    ASSERT_TRUE(later.Open(s.dir.File("sim.db"), unpinned)) << later.LastError();
    EXPECT_EQ(later.CountRows("recordings"), seeded + 8 * 3 * 3);
    Account demo = LoginAs(later, "demo");
    auto yesterday = later.SetUpPlayback(demo, "31000001", "2023-11-23 00:00:00", "2023-11-23 23:59:59");
    ASSERT_TRUE(yesterday);
    ASSERT_EQ(yesterday->ranges.size(), 3u);
    EXPECT_EQ(yesterday->ranges[0].first, "2023-11-23 08:00:00");
    // Opened again the same day: nothing more.
    sim::ServiceStore again;
    again.SetClock([] { return kReference + 10 * kDay; });
    ASSERT_TRUE(again.Open(s.dir.File("sim.db"), unpinned));
    EXPECT_EQ(again.CountRows("recordings"), seeded + 8 * 3 * 3);
}

TEST(SimStoreTimes, NormalisesPaddedAndUnpaddedTimes) {
    EXPECT_EQ(sim::NormaliseDateTime("2023-3-5 7:08:09"), "2023-03-05 07:08:09");
    EXPECT_EQ(sim::NormaliseDateTime("2023- 3- 5  7: 8: 9"), "2023-03-05 07:08:09") << "blank-padded fields";
    EXPECT_FALSE(sim::NormaliseDateTime("2023-13-05 07:08:09"));
    EXPECT_FALSE(sim::NormaliseDateTime("2023-03-05"));
    EXPECT_FALSE(sim::NormaliseDateTime("2023-03-05 07:08:09 trailing"));
    EXPECT_FALSE(sim::NormaliseDateTime(""));
}

TEST(SimStoreLogin, ExpiryWrittenWithSlashesIsComparedByDate) {
    SeededStore s(8);
    {
        sim::SqliteDb db;  // a second connection, as an administration request would write
        ASSERT_TRUE(db.Open(s.dir.File("sim.db")));
        auto update = db.Prepare("UPDATE accounts SET expired_date = ? WHERE user_name = 'lina'");
        ASSERT_TRUE(update.Bind(1, "2023/11/14").Run());
        EXPECT_EQ(db.Changes(), 1);
    }
    Account a;
    EXPECT_EQ(s.store.CheckLogin("lina", kDemoDigest, 1, "2023-11-14", 0, a), sim::kLoginAccepted) << "the last day counts";
    EXPECT_EQ(s.store.CheckLogin("lina", kDemoDigest, 1, "2023-11-15", 0, a), sim::kLoginExpired);
}

TEST(SimSqlite, ErrorsAreResultsNotCrashes) {
    testing_support::TempDir dir;
    sim::SqliteDb db;
    EXPECT_FALSE(db.Execute("SELECT 1")) << "not open";
    ASSERT_TRUE(db.Open(dir.File("x.db")));
    EXPECT_FALSE(db.Execute("NOT SQL"));
    EXPECT_FALSE(db.LastError().empty());
    auto bad = db.Prepare("SELECT * FROM missing");
    EXPECT_FALSE(bad.Valid());
    EXPECT_FALSE(bad.Step());
    EXPECT_FALSE(bad.Run());
    ASSERT_TRUE(db.Execute("CREATE TABLE t(v TEXT)"));
    {
        sim::SqliteTransaction rolledBack(db);
        ASSERT_TRUE(db.Prepare("INSERT INTO t VALUES('x')").Run());
    }
    auto count = db.Prepare("SELECT COUNT(*) FROM t");
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Int(0), 0) << "a transaction without Commit rolls back";
}

TEST(SimStorePlayback, OldSetUpsArePruned) {
    SeededStore s(8);
    Account demo = LoginAs(s.store, "demo");
    for (int i = 0; i < 1010; ++i)
        ASSERT_TRUE(s.store.SetUpPlayback(demo, "31000001", "2023-11-13 08:00:00", "2023-11-13 09:00:00"));
    EXPECT_EQ(s.store.CountRows("playback_sessions"), 1000);
    // A window without recordings keeps no set-up.
    auto none = s.store.SetUpPlayback(demo, "31000001", "2023-11-13 00:00:00", "2023-11-13 01:00:00");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->ranges.empty());
    EXPECT_EQ(none->playbackId, 0);
    EXPECT_EQ(s.store.CountRows("playback_sessions"), 1000);
}

TEST(SimStoreSeed, AnOlderFileGetsItsCameraGroupsRenumberedOnce) {
    testing_support::TempDir dir;
    UseUtc();
    {
        ServiceStore store;
        ASSERT_TRUE(store.Open(dir.File("old.db"), Seed(16)));
    }
    {
        // The file as the first schema wrote it: groups numbered from 1.
        sim::SqliteDb db;
        ASSERT_TRUE(db.Open(dir.File("old.db")));
        ASSERT_TRUE(db.Execute("UPDATE virtual_node_members SET virtual_node_id = 1; UPDATE virtual_nodes SET id = 1;"
                               "INSERT INTO virtual_nodes(id, owner_id, parent_id, name) VALUES(2, 10001, 1, 'sub');"
                               "UPDATE meta SET value = '1' WHERE key = 'schema_version'"));
    }
    for (int open = 0; open < 2; ++open) {
        ServiceStore store;
        ASSERT_TRUE(store.Open(dir.File("old.db"), Seed(16))) << store.LastError();
        std::map<std::string, std::string> groups;  // id -> parent
        for (const auto& row : store.CameraTree(LoginAs(store, "demo")))
            if (row.isNode && std::stoll(row.id) >= ServiceStore::kFirstGroupId) groups[row.id] = row.parentId;
        EXPECT_EQ(groups, (std::map<std::string, std::string>{{"80000001", "0"}, {"80000002", "80000001"}})) << open;
    }
}
