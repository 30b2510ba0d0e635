#include <gtest/gtest.h>

#include "control/camera_rows.h"

using namespace control;

namespace {
CameraListReply MakeList(std::initializer_list<std::pair<CameraListReply::Index, const char*>> lists) {
    CameraListReply reply;
    for (auto& [index, text] : lists) reply.lists[index] = text;
    return reply;
}
}  // namespace

TEST(CameraRows, NodesAndCamerasFollowTheirRules) {
    using L = CameraListReply;
    auto list = MakeList({{L::kNodeId, "n1;;n2;"},
                          {L::kNodeName, "北京;ignored;上海;"},
                          {L::kCameraCount, "5;0;2;0"},
                          {L::kCameraOnlineCount, "0;0;1;0"},
                          {L::kCameraId, ";c1;;c2"},
                          {L::kCameraName, ";门口;;后院"},
                          {L::kCameraActive, "0;1;0;0"},
                          {L::kCameraExpired, ";1;;0"},
                          {L::kExpiredDate, ";2027-01-01;;2026-01-01"},
                          {L::kTranspondIp, ";10.0.0.5;;"},
                          {L::kTranspondPort, ";7000;;"},
                          {L::kParentId, "0;n1;0;n2"}});
    CameraRows built = BuildCameraRows(list, [](const std::string& id) { return id == "c2"; });
    ASSERT_EQ(built.rows.size(), 4u);
    const ITEMINFO& node = *built.rows[0];
    EXPECT_EQ(node.kind, ITEMINFO::kNode);
    EXPECT_EQ(node.countLabel, "[0/5]");
    EXPECT_FALSE(node.active) << "a node without online cameras is inactive";
    const ITEMINFO& camera = *built.rows[1];
    EXPECT_EQ(camera.kind, ITEMINFO::kCamera) << "an empty node id makes a camera even with a node name";
    EXPECT_EQ(camera.name, "门口");
    EXPECT_EQ(camera.parentId, "n1");
    EXPECT_TRUE(camera.active);
    EXPECT_FALSE(camera.expired);
    EXPECT_EQ(camera.forwardingIp, "10.0.0.5");
    EXPECT_EQ(camera.forwardingPort, 7000);
    EXPECT_TRUE(built.rows[2]->active);
    EXPECT_EQ(built.rows[2]->countLabel, "[1/2]");
    EXPECT_TRUE(built.rows[3]->expired);
    EXPECT_TRUE(built.rows[3]->live);
    EXPECT_EQ(built.nodeCounts["n1"].total, 5);
}

TEST(CameraRows, WalkStopsWhereACountListRunsOut) {
    using L = CameraListReply;
    auto list = MakeList({{L::kNodeId, "a;b;c"}, {L::kNodeName, "A;B;C"}, {L::kCameraCount, "1;1"},
                          {L::kCameraOnlineCount, "1;1;1"}});
    EXPECT_EQ(BuildCameraRows(list, nullptr).rows.size(), 2u);
}

TEST(CameraRows, ReorderGroupsKeepTheirOrder) {
    auto make = [](int kind, bool active, const char* id) {
        auto row = std::make_shared<ITEMINFO>();
        row->kind = kind;
        row->active = active;
        row->id = id;
        return row;
    };
    std::vector<ItemPtr> rows = {make(1, false, "c1"), make(0, false, "n1"), make(1, true, "c2"),
                                 make(0, true, "n2"),  make(1, true, "c3"),  make(0, true, "n3")};
    ReorderRows(rows);
    std::string order;
    for (auto& row : rows) order += row->id + " ";
    EXPECT_EQ(order, "n2 n3 n1 c2 c3 c1 ");
}

TEST(CameraRows, TenThousandCamerasBuild) {
    using L = CameraListReply;
    CameraListReply list;
    const int n = 10000;
    for (int i = 0; i < n; ++i) {
        const char* sep = i ? ";" : "";
        list.lists[L::kNodeId] += sep;
        list.lists[L::kNodeName] += sep;
        list.lists[L::kCameraCount] += std::string(sep) + "0";
        list.lists[L::kCameraOnlineCount] += std::string(sep) + "0";
        list.lists[L::kCameraId] += sep + std::to_string(i);
    }
    CameraRows built = BuildCameraRows(list, nullptr);
    ASSERT_EQ(built.rows.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(built.rows.back()->id, "9999");
}

TEST(SplitList, KeepsEmptyItems) {
    EXPECT_EQ(SplitList(""), std::vector<std::string>{""});
    EXPECT_EQ(SplitList("a;;b;"), (std::vector<std::string>{"a", "", "b", ""}));
}
