// The camera trees built from the list of the simulated service's account with
// 10,000 cameras, as the login sequence leaves it in the item table.
#include <QTest>
#include <gtest/gtest.h>
#include <set>

#include "session/item_table.h"
#include "core/log_file.h"
#include "session/login_sequence.h"
#include "control/control_client.h"
#include "integration/sim_fixture.h"
#include "platform/paths.h"
#include "ui/tree_fixture.h"

using testing_support::TreeHost;

TEST(TreesWithSim, TenThousandCamerasFillEveryTreeAndTheirIndexes) {
    testing_support::TempDir dir;
    platform::SetProgramDirectory(dir.Path());
    testing_support::SimulatedService sim(10000);
    core::AppConfig config;
    sim.PointAt(config, "demo", "larkview");
    control::ControlClient::Timing timing;
    timing.listTimeoutMs = 20000;
    control::ControlClient client(timing, config);
    ASSERT_EQ(client.Connect(), 0);
    ASSERT_EQ(client.Login(), 1);
    session::ItemTable table;
    ASSERT_TRUE(session::RefreshItemTable(client, table, nullptr));
    const std::vector<control::ItemPtr> rows = table.Snapshot();
    ASSERT_GT(rows.size(), 10000u);

    TreeHost host;
    std::vector<ui::CTreeList*> others;
    for (int i = ui::CCameraTrees::kPlayback; i < ui::CCameraTrees::kTreeCount; ++i) {
        auto* tree = new ui::CTreeList(&host.manager, &host.root);
        tree->setObjectName(ui::CCameraTrees::kTreeNames[i]);
        host.trees.SetTree(static_cast<ui::CCameraTrees::Tree>(i), tree);
        others.push_back(tree);
    }
    auto* permission = new ui::CTreeViewUI(&host.root);
    host.trees.SetPermissionTree(permission);
    host.trees.BuildAll(table);

    std::size_t cameras = 0, topNodes = 0;
    for (const auto& row : rows) {
        cameras += row->kind == control::ITEMINFO::kCamera;
        topNodes += row->kind == control::ITEMINFO::kNode && row->parentId == "0";
    }
    EXPECT_EQ(cameras, 10000u);
    for (int i = 0; i < ui::CCameraTrees::kTreeCount; ++i) {
        ui::CTreeList* tree = host.trees.GetTree(static_cast<ui::CCameraTrees::Tree>(i));
        EXPECT_EQ(tree->GetCount(), static_cast<int>(rows.size())) << ui::CCameraTrees::kTreeNames[i];
        EXPECT_EQ(host.trees.Index(static_cast<ui::CCameraTrees::Tree>(i)).Size(), rows.size());
        EXPECT_EQ(tree->Root()->ChildCount(), topNodes) << "only the service's top nodes at the top";
    }
    // Every row sits under the node its list names.
    for (const auto& row : rows) {
        ui::TreeNode* node = host.tree->FindById(row->id);
        ASSERT_NE(node, nullptr) << row->id;
        const std::string parent = node->Parent() == host.tree->Root() ? "0" : node->Parent()->Id();
        ASSERT_EQ(parent, row->parentId) << row->id;
        if (row->kind == control::ITEMINFO::kCamera) {
            EXPECT_EQ(host.trees.FindItem(ui::CCameraTrees::kLive, row->id), row);
        }
    }
    EXPECT_EQ(permission->GetNodeCount(), rows.size() + 1) << "every row under the invisible root";
    EXPECT_EQ(host.trees.RootNodeCount(), static_cast<int>(topNodes));

    // Searching a camera's name finds a camera of that name and shows it.
    const control::ItemPtr& last = rows.back();
    ui::TreeNode* found = host.trees.Search(last->name);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Name(), last->name);
    EXPECT_TRUE(found->Element()->IsVisible());
    EXPECT_EQ(host.tree->GetCurSel(), found->Element()->GetIndex());

    core::LogFile::Destroy();
    platform::SetProgramDirectory("");
}
