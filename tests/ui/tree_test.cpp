// The camera tree: building from rows, icons, expand and collapse, search, wheel
// gliding, row buttons and hover, removal, and the permission tree.
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "control/camera_rows.h"
#include "support/rendered_text.h"
#include "tree_fixture.h"
#include "ui/wheel_scroll.h"

using namespace ui;
using testing_support::CameraRow;
using testing_support::NodeRow;
using testing_support::ThreeLevelRows;
using testing_support::TreeHost;

namespace {
std::vector<std::string> Ids(std::initializer_list<const char*> ids) { return {ids.begin(), ids.end()}; }
}  // namespace

TEST(CameraTree, ThreeLevelListBuildsTheTreeWithItsIcons) {
    TreeHost host;
    std::vector<control::ItemPtr> rows = ThreeLevelRows();
    control::ReorderRows(rows);  // as the item table holds them: nodes first, inactive cameras last
    host.trees.BuildAll(rows);

    EXPECT_EQ(host.Order(), Ids({"n1", "n2", "c1", "c2", "n3", "c3", "c4"})) << "each node followed by its own rows";
    TreeNode* city = host.Node("n2");
    TreeNode* camera = host.Node("c1");
    ASSERT_TRUE(city && camera);
    EXPECT_EQ(host.Node("n1")->Level(), 0);
    EXPECT_EQ(city->Level(), 1);
    EXPECT_EQ(camera->Level(), 2);
    EXPECT_EQ(camera->Parent(), city);
    EXPECT_EQ(city->Parent(), host.Node("n1"));
    EXPECT_EQ(host.Row("c1")->GetIndent(), 30);
    EXPECT_EQ(host.Row("n1")->GetIndent(), 10);
    EXPECT_EQ(host.tree->RowHeightOf(*host.Row("c1")), 22);
    EXPECT_EQ(host.tree->RowHeightOf(*host.Row("n2")), 28);
    EXPECT_EQ(CTreeList::NodeOf(host.Row("c1")), camera);
    EXPECT_EQ(CTreeList::NodeOf(host.Row("c1")->FindCell("sxt_start")), camera) << "a row's part leads to its node";

    EXPECT_EQ(host.Image("c1", "sxt_logo"), "file='Image\\cctv_line.png'");
    EXPECT_EQ(host.Image("c2", "sxt_logo"), "file='Image\\cctv_b.png'");
    EXPECT_EQ(host.Image("c3", "sxt_logo"), "file='Image\\cctv_b_Money.png'") << "expired wins over active";
    EXPECT_EQ(host.Image("c4", "sxt_logo"), "file='Image\\cctv_line_play.png'");
    EXPECT_EQ(host.Image("c4", "sxt_start"), "file='Image\\stop_mix.png'");
    EXPECT_EQ(host.Image("n1", "node_logo"), "file='Image\\expand_on.png'");
    EXPECT_EQ(host.Text("c3", "sxt_text"), "外滩");
    EXPECT_EQ(host.Text("c3", "expired"), "2014-12-31");
    EXPECT_EQ(host.Text("n1", "node_text"), "华东区");
    EXPECT_EQ(host.Text("n1", "node_msg"), "[3/4]");
    EXPECT_FALSE(host.Row("c1")->FindCell("enable_btn")->IsVisible());

    // Rows start collapsed: only the top shows.
    EXPECT_TRUE(host.Shown("n1"));
    for (const char* id : {"n2", "n3", "c1", "c2", "c3", "c4"}) EXPECT_FALSE(host.Shown(id)) << id;

    const TreeIndex& index = host.trees.Index(CCameraTrees::kLive);
    EXPECT_EQ(index.Size(), 7u);
    EXPECT_EQ(index.Find(camera), rows[3]);
    EXPECT_EQ(host.trees.FindItem(CCameraTrees::kLive, "c3")->name, "外滩");
    EXPECT_EQ(host.trees.FindItem(CCameraTrees::kLive, "nobody"), nullptr);
    EXPECT_EQ(index.Copy().front().node, host.Node("n1")) << "the index walks in display order";

    // Live icons come and go; the expiry text changes in place.
    host.tree->SetLiveIcons(host.Row("c1"), true);
    EXPECT_EQ(host.Image("c1", "sxt_start"), "file='Image\\stop_mix.png'");
    host.tree->SetLiveIcons(host.Row("c1"), false);
    EXPECT_EQ(host.Image("c1", "sxt_logo"), "file='Image\\cctv_line.png'");
    EXPECT_EQ(host.Image("c1", "sxt_start"), "file='Image\\play_mix.png'");
    host.tree->SetExpiryText(host.Row("c1"), "2030-01-01");
    EXPECT_EQ(host.Text("c1", "expired"), "2030-01-01");

    // Building again replaces everything.
    host.trees.BuildAll(std::vector<control::ItemPtr>{NodeRow("x", "", "新区", 0, 0)});
    EXPECT_EQ(host.Order(), Ids({"x"}));
    EXPECT_EQ(host.Node("c1"), nullptr);
    EXPECT_EQ(host.trees.Index(CCameraTrees::kLive).Size(), 1u);
    EXPECT_EQ(host.Image("x", "node_logo"), "file='Image\\expand_off.png'");
}

TEST(CameraTree, RowsWhoseParentIsMissingOrWhoseTemplateFailsAreHandled) {
    TreeHost host;
    host.trees.BuildAll({CameraRow("lost", "no-such-node", "孤立", true), NodeRow("top", "0", "顶层", 0, 1)});
    EXPECT_EQ(host.Order(), Ids({"lost", "top"})) << "a row whose parent is not there goes to the top";
    EXPECT_EQ(host.Node("lost")->Level(), 0);

    // A template that cannot be read leaves the row out of the tree and its index.
    const std::string saved = CPaintManagerUI::GetResourcePath();
    CPaintManagerUI::SetResourcePath("/nonexistent");
    CTreeList bare;
    EXPECT_EQ(bare.AddNode(nullptr, *CameraRow("c", "", "x", true)), nullptr);
    EXPECT_EQ(bare.GetCount(), 0);
    CPaintManagerUI::SetResourcePath(saved);
}

TEST(CameraTree, CollapsedSubNodesKeepTheirChildrenHidden) {
    TreeHost host;
    host.trees.BuildAll(ThreeLevelRows());
    CTreeList& tree = *host.tree;
    TreeNode* region = host.Node("n1");
    TreeNode* hangzhou = host.Node("n2");
    TreeNode* shanghai = host.Node("n3");

    tree.SetExpanded(region, true);
    EXPECT_EQ(host.Image("n1", "node_logo"), "file='Image\\collapse_on.png'");
    EXPECT_TRUE(host.Shown("n2") && host.Shown("n3"));
    EXPECT_FALSE(host.Shown("c1") || host.Shown("c3"));

    tree.SetExpanded(hangzhou, true);  // an expanded sub-node
    EXPECT_TRUE(host.Shown("c1") && host.Shown("c2"));
    tree.SetExpanded(region, false);
    for (const char* id : {"n2", "n3", "c1", "c2", "c3", "c4"}) EXPECT_FALSE(host.Shown(id)) << id;
    tree.SetExpanded(region, true);
    EXPECT_TRUE(host.Shown("n2") && host.Shown("c1") && host.Shown("c2")) << "the expanded sub-node shows its rows again";
    EXPECT_FALSE(host.Shown("c3") || host.Shown("c4")) << "the collapsed sub-node keeps its rows hidden";

    // A node changed while hidden shows its state once it is shown again.
    tree.SetExpanded(region, false);
    tree.SetExpanded(shanghai, true);
    EXPECT_FALSE(host.Shown("c3"));
    EXPECT_EQ(host.Image("n3", "node_logo"), "file='Image\\collapse_on.png'");
    tree.SetExpanded(region, true);
    EXPECT_TRUE(host.Shown("c3") && host.Shown("c4"));

    // The live tree's events: a click on a node toggles it, on a camera it does nothing.
    TNotifyUI click{notify::kItemClick, host.Row("c1")};
    EXPECT_FALSE(host.trees.HandleNotify(click));
    EXPECT_TRUE(hangzhou->IsExpanded());
    TNotifyUI onNode{notify::kItemClick, host.Row("n2")};
    EXPECT_FALSE(host.trees.HandleNotify(onNode)) << "itemclick goes on to the window";
    EXPECT_FALSE(hangzhou->IsExpanded());
    TNotifyUI logo{"node_logo", host.Row("n2")};
    EXPECT_TRUE(host.trees.HandleNotify(logo)) << "node_logo ends here";
    EXPECT_TRUE(hangzhou->IsExpanded());

    // Nothing for the root, for nothing, for the same state.
    tree.SetExpanded(nullptr, true);
    tree.SetExpanded(tree.Root(), false);
    EXPECT_FALSE(tree.HasChildren(tree.Root()));
    EXPECT_FALSE(tree.HasChildren(host.Node("c1")));
}

TEST(CameraTree, SearchPrefersAnExactNameAndRepeatsToTheNextMatch) {
    TreeHost host;
    host.trees.BuildAll({NodeRow("p", "", "园区", 3, 3), NodeRow("g", "p", "大门", 3, 3),
                         CameraRow("a", "g", "东门口", true), CameraRow("b", "g", "门口", true),
                         CameraRow("c", "g", "西门口", true)});
    host.Show();
    CTreeList& tree = *host.tree;

    TreeNode* found = host.trees.Search("门口");
    EXPECT_EQ(found, host.Node("b")) << "the exact name wins over the partial one before it";
    EXPECT_TRUE(host.Shown("b")) << "its parents were expanded";
    EXPECT_TRUE(host.Node("p")->IsExpanded() && host.Node("g")->IsExpanded());
    EXPECT_EQ(tree.GetCurSel(), host.Row("b")->GetIndex());
    EXPECT_EQ(host.root.focusWidget(), host.search);

    EXPECT_EQ(host.trees.Search("门口"), host.Node("c")) << "the same text again: the next match after it";
    EXPECT_EQ(host.trees.Search("门口"), nullptr) << "no match after the last one";
    EXPECT_TRUE(host.trees.SearchState().lastText.empty()) << "so the next search starts over";
    EXPECT_EQ(host.trees.Search("门口"), host.Node("b"));

    EXPECT_EQ(host.trees.Search("门"), host.Node("g")) << "a new text starts from the top (node names count)";
    EXPECT_EQ(host.trees.Search("门"), host.Node("a"));
    EXPECT_EQ(host.trees.Search("门"), host.Node("b"));
    EXPECT_EQ(host.trees.Search(""), nullptr);
    EXPECT_EQ(host.trees.Search("无此摄像机"), nullptr);
}

// Rows removed through the list itself must leave the search and the item lookup too:
// they held the deleted nodes and the next search read freed memory.
TEST(CameraTree, SearchAndLookupForgetNodesTheTreeRemoves) {
    TreeHost host;
    host.trees.BuildAll(ThreeLevelRows());
    CTreeList& tree = *host.tree;
    ASSERT_EQ(host.trees.Search("断桥"), host.Node("c2"));

    ASSERT_TRUE(tree.RemoveNode(host.Node("n2")));  // with c1 and c2, the last match
    EXPECT_EQ(host.trees.Index(CCameraTrees::kLive).Size(), 4u);
    EXPECT_TRUE(host.trees.SearchState().lastText.empty()) << "the remembered match is gone";
    EXPECT_EQ(host.trees.Search("断桥"), nullptr);
    EXPECT_EQ(host.trees.Search("西湖"), nullptr);
    EXPECT_EQ(host.trees.FindItem(CCameraTrees::kLive, "c1"), nullptr);
    EXPECT_EQ(host.trees.Search("外滩"), host.Node("c3"));

    ASSERT_TRUE(tree.RemoveAt(host.Row("c3")->GetIndex()));
    EXPECT_EQ(host.trees.Search("外滩"), nullptr);
    tree.RemoveAll();
    EXPECT_EQ(host.trees.Index(CCameraTrees::kLive).Size(), 0u);
    EXPECT_EQ(host.trees.Search("浦东"), nullptr);

    host.trees.BuildAll(ThreeLevelRows());  // building again after all that
    EXPECT_EQ(host.trees.Search("浦东"), host.Node("c4"));
}

TEST(SmoothWheel, NotchesAddToTheVelocityWithinItsLimits) {
    SmoothWheel wheel;
    wheel.Notch(true);
    EXPECT_EQ(wheel.Velocity(), 8) << "a notch up while idle";
    EXPECT_EQ(wheel.TotalSteps(), 10);  // 5 x floor(sqrt(8))
    wheel.Notch(true);
    EXPECT_EQ(wheel.Velocity(), 16) << "along the motion";

    SmoothWheel down;
    down.Notch(false);
    EXPECT_EQ(down.Velocity(), -8);
    down.Notch(false);
    EXPECT_EQ(down.Velocity(), -16);
    down.Notch(true);
    EXPECT_EQ(down.Velocity(), -4) << "a notch up during a downward glide adds 12";
    down.Reset();
    down.Notch(true);
    down.Notch(false);
    EXPECT_EQ(down.Velocity(), -4) << "a notch down during an upward glide takes 12";

    SmoothWheel fast;
    for (int i = 0; i < 30; ++i) fast.Notch(true);
    EXPECT_EQ(fast.Velocity(), 100);
    EXPECT_EQ(fast.TotalSteps(), 50);
    for (int i = 0; i < 30; ++i) fast.Notch(false);
    EXPECT_EQ(fast.Velocity(), -100);
}

TEST(SmoothWheel, TicksSlowDownAndStopAtTheEnds) {
    SmoothWheel wheel;
    wheel.Notch(false);  // -8, 10 steps
    std::vector<int> steps;
    while (auto step = wheel.Tick(false, false)) steps.push_back(*step);
    // -8 x (9/10)^2 = -6.48 → -6, … down to the last non-zero step.
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.front(), -6);
    for (std::size_t i = 1; i < steps.size(); ++i) EXPECT_GE(steps[i], steps[i - 1]) << "slower each tick";
    EXPECT_FALSE(wheel.Running());
    EXPECT_EQ(wheel.Velocity(), 0);

    wheel.Notch(true);
    EXPECT_FALSE(wheel.Tick(true, false)) << "nothing to scroll up at the top";
    EXPECT_EQ(wheel.Velocity(), 0);
    EXPECT_EQ(wheel.TotalSteps(), 0);
}

TEST(CameraTree, WheelTurnsGlideOnTimer10) {
    TreeHost host(300, 200);
    std::vector<control::ItemPtr> rows = {NodeRow("n", "", "大楼", 80, 80)};
    for (int i = 0; i < 80; ++i) rows.push_back(CameraRow("c" + std::to_string(i), "n", "摄像机" + std::to_string(i), true));
    rows[0]->expanded = true;
    host.trees.BuildAll(rows);
    host.Show();
    QScrollBar* bar = host.tree->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);

    const QPointF at(50, 50);
    QWheelEvent down(at, host.tree->viewport()->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(host.tree->viewport(), &down);
    EXPECT_EQ(host.tree->Wheel().Velocity(), -8);
    EXPECT_EQ(bar->value(), 0) << "the wheel itself does not jump";
    host.tree->ScrollTick();
    EXPECT_EQ(bar->value(), 6);
    while (host.tree->Wheel().Running()) host.tree->ScrollTick();
    host.tree->ScrollTick();
    EXPECT_EQ(host.tree->Wheel().Velocity(), 0);
    EXPECT_FALSE(host.manager.KillTimer(host.tree, CTreeList::kScrollTimer)) << "the glide stopped its timer";

    QApplication::sendEvent(host.tree->viewport(), &down);
    EXPECT_TRUE(host.manager.KillTimer(host.tree, CTreeList::kScrollTimer)) << "timer 10 of the tree runs the glide";
    EXPECT_TRUE(host.tree->OnTimer(CTreeList::kScrollTimer));
    EXPECT_FALSE(host.tree->OnTimer(11));
}

TEST(CameraTree, RowButtonsAndHoverNotifyWithTheRowAsSender) {
    TreeHost host;
    std::vector<control::ItemPtr> rows = ThreeLevelRows();
    for (auto& row : rows) row->expanded = true;
    host.trees.BuildAll(rows);
    host.Show();
    CTreeList& tree = *host.tree;
    auto press = [&](const char* id, const char* cell) {
        CListCellUI* part = host.Row(id)->FindCell(cell);
        const QRect place = tree.CellRect(*host.Row(id), *part);
        EXPECT_TRUE(place.isValid()) << id << " " << cell;
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, place.center());
    };

    for (const char* button : {"sxt_start", "sxt_rec", "sxt_alarm"}) {
        press("c1", button);
        const TNotifyUI* note = host.log.Last(button);
        ASSERT_NE(note, nullptr) << button;
        EXPECT_EQ(note->pSender, host.Row("c1"));
    }
    for (const char* button : {"node_start", "node_close", "node_logo"}) {
        press("n2", button);
        ASSERT_NE(host.log.Last(button), nullptr) << button;
        EXPECT_EQ(host.log.Last(button)->pSender, host.Row("n2"));
    }
    EXPECT_EQ(host.log.Count(notify::kItemClick), 0) << "a button press is not a click of the row";
    EXPECT_EQ(tree.GetCurSel(), -1) << "nor does it select the row";

    const QRect text = tree.CellRect(*host.Row("c1"), *host.Row("c1")->FindCell("sxt_text"));
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, text.center());
    EXPECT_EQ(host.log.Count(notify::kItemClick), 1);
    EXPECT_EQ(tree.GetCurSel(), host.Row("c1")->GetIndex());

    // Hover: in and out of rows; the live tree's handler shows the active camera's button.
    QTest::mouseMove(tree.viewport(), text.center());
    ASSERT_NE(host.log.Last("item_in"), nullptr);
    EXPECT_EQ(host.log.Last("item_in")->pSender, host.Row("c1"));
    TNotifyUI in = *host.log.Last("item_in");
    host.trees.HandleNotify(in);
    EXPECT_TRUE(host.Row("c1")->FindCell("enable_btn")->IsVisible());
    const QRect other = tree.CellRect(*host.Row("c2"), *host.Row("c2")->FindCell("sxt_text"));
    QTest::mouseMove(tree.viewport(), other.center());
    EXPECT_EQ(host.log.Last("item_leave")->pSender, host.Row("c1"));
    TNotifyUI leave = *host.log.Last("item_leave");
    host.trees.HandleNotify(leave);
    EXPECT_FALSE(host.Row("c1")->FindCell("enable_btn")->IsVisible());
    tree.ShowHoverButton(host.Node("c2"));
    EXPECT_FALSE(host.Row("c2")->FindCell("enable_btn")->IsVisible()) << "only for active cameras";

    // Context menus only when enabled.
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(5, 5), tree.viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(tree.viewport(), &menu);
    EXPECT_EQ(host.log.Count("node_menu"), 0);
    tree.SetContextMenuUsed(true);
    QApplication::sendEvent(tree.viewport(), &menu);
    ASSERT_EQ(host.log.Count("node_menu"), 1);
    EXPECT_EQ(host.log.Last("node_menu")->pSender, &tree);
}

TEST(CameraTree, NamesGetTheirRoomBeforeTheDateAndTooltipsTellAllAsPlainText) {
    // As narrow as the tree of the main window's side column.
    TreeHost host(230);
    const std::string markup = "<b>x</b><a href=x>y</a>";
    std::vector<control::ItemPtr> rows = {
        NodeRow("n1", "", "华东区", 3, 4),
        NodeRow("n2", "n1", "杭州市西湖区文三路门店", 2, 3),
        CameraRow("short", "n2", "大门", true),
        CameraRow("mid", "n2", "电梯厅北侧", true),
        CameraRow("long", "n2", "停车场入口东侧第二排立柱旁", true),
        CameraRow("markup", "n2", markup, false, true, "2014-12-31"),
    };
    for (auto& row : rows) row->expanded = true;
    host.trees.BuildAll(rows);
    host.Show();
    CTreeList& tree = *host.tree;
    const QFontMetrics metrics = tree.viewport()->fontMetrics();
    auto place = [&](const char* id, const char* cell) {
        return tree.CellRect(*host.Row(id), *host.Row(id)->FindCell(cell));
    };
    auto need = [&](const std::string& text) { return metrics.horizontalAdvance(QString::fromStdString(text)); };

    // A short name leaves room for the whole date, right-aligned before the buttons.
    EXPECT_GE(place("short", "sxt_text").width(), need("大门"));
    EXPECT_GE(place("short", "expired").width(), need("2027-06-30"));
    EXPECT_LT(place("short", "expired").right(), place("short", "sxt_start").left());
    // A longer name is whole and the date is shortened; a name that cannot be whole
    // takes the date's room too.
    EXPECT_GE(place("mid", "sxt_text").width(), need("电梯厅北侧"));
    EXPECT_GT(place("mid", "expired").width(), 0);
    EXPECT_LT(place("mid", "expired").width(), need("2027-06-30"));
    EXPECT_TRUE(place("long", "expired").isEmpty());
    EXPECT_LT(place("long", "sxt_text").right(), place("long", "sxt_start").left());
    EXPECT_GT(place("long", "sxt_text").width(), place("mid", "sxt_text").width());
    // A node's name before its count, the whole name as it fits.
    EXPECT_GE(place("n1", "node_text").width(), need("华东区"));
    EXPECT_GE(place("n1", "node_msg").width(), need("[3/4]"));

    // A wider column: the drawn name is the name as typed, as wide as the literal text
    // (rendered markup would be a bold "x" and a link "y").
    EXPECT_TRUE(place("markup", "expired").isEmpty());
    host.root.resize(330, 420);
    QApplication::processEvents();
    const QRect markupName = place("markup", "sxt_text");
    ASSERT_GE(markupName.width(), need(markup)) << "the whole name fits";
    EXPECT_GE(testing_support::InkWidth(tree.viewport()->grab().toImage(), markupName), need(markup) * 9 / 10);
    EXPECT_GT(place("markup", "expired").width(), 0) << "and the date, shortened, beside it";

    // The hover button stands in the date's place, clear of the name and the buttons.
    tree.ShowHoverButton(host.Node("short"));
    const QRect pill = place("short", "enable_btn");
    EXPECT_FALSE(pill.isEmpty());
    EXPECT_LT(pill.right(), place("short", "sxt_start").left());
    EXPECT_FALSE(pill.intersects(place("short", "sxt_text")));
    EXPECT_TRUE(place("short", "expired").isEmpty()) << "the date gives way to the hover button";
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, pill.center());
    ASSERT_NE(host.log.Last("enable_btn"), nullptr);
    EXPECT_EQ(host.log.Last("enable_btn")->pSender, host.Row("short"));
    tree.HideHoverButton(host.Node("short"));

    // Tooltips: name, id, state and expiry, as plain text; a row button tells its use.
    const QString tip = tree.ToolTipAt(place("markup", "sxt_text").center());
    EXPECT_TRUE(tip.contains(QString::fromStdString(markup))) << tip.toStdString();
    EXPECT_TRUE(tip.contains("markup"));
    EXPECT_TRUE(tip.contains("已欠费"));
    EXPECT_TRUE(tip.contains("2014-12-31"));
    tree.SetLiveIcons(host.Row("short"), true);
    EXPECT_TRUE(tree.ToolTipAt(place("short", "sxt_text").center()).contains("在线，正在预览"));
    EXPECT_EQ(tree.ToolTipAt(place("short", "sxt_start").center()), "打开视频");
    EXPECT_TRUE(tree.ToolTipAt(place("n2", "node_text").center()).contains("杭州市西湖区文三路门店"));
    EXPECT_TRUE(tree.ToolTipAt(place("n2", "node_text").center()).contains("在线 2 / 共 3"));
}

TEST(CameraTree, BuildingAgainKeepsWhatTheUserOpenedChoseAndScrolledTo) {
    TreeHost host(300, 300);
    std::vector<control::ItemPtr> rows;
    for (int n = 0; n < 3; ++n) {
        const std::string node = "n" + std::to_string(n);
        rows.push_back(NodeRow(node, "", "区域" + std::to_string(n), 1, 30));
        for (int c = 0; c < 30; ++c)
            rows.push_back(CameraRow(node + "c" + std::to_string(c), node, "摄像头" + std::to_string(c), true));
    }
    host.trees.BuildAll(rows);
    host.Show();
    CTreeList& tree = *host.tree;
    tree.SetExpanded(host.Node("n1"), true);
    tree.SetExpanded(host.Node("n2"), true);
    ASSERT_TRUE(tree.SelectItem(host.Row("n1c20")->GetIndex()));
    QScrollBar* bar = tree.verticalScrollBar();
    bar->setValue(bar->value() + 7);
    QApplication::processEvents();
    auto topRow = [&tree] {
        const QModelIndex top = tree.indexAt(QPoint(1, 0));
        return std::pair{tree.GetItemAt(top.row())->GetName(), tree.visualRect(top).top()};
    };
    const auto before = topRow();
    ASSERT_GT(bar->value(), 0);

    // The refresh brings the same rows again, and one camera less.
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](const auto& row) { return row->id == "n1c3"; }),
               rows.end());
    host.trees.BuildAll(rows);
    QApplication::processEvents();
    EXPECT_TRUE(host.Node("n1")->IsExpanded());
    EXPECT_TRUE(host.Node("n2")->IsExpanded());
    EXPECT_FALSE(host.Node("n0")->IsExpanded());
    EXPECT_TRUE(host.Shown("n2c29"));
    EXPECT_EQ(tree.GetCurSel(), host.Row("n1c20")->GetIndex());
    EXPECT_EQ(topRow(), before) << "the same rows in view";
    EXPECT_EQ(host.Node("n1c3"), nullptr);
}

TEST(CameraTree, RemoveFindInsertAndBringIntoView) {
    TreeHost host;
    host.trees.BuildAll(ThreeLevelRows());
    CTreeList& tree = *host.tree;
    EXPECT_EQ(tree.InsertionIndex(host.Node("n2")), 4);
    EXPECT_EQ(tree.InsertionIndex(tree.Root()), 7);
    EXPECT_EQ(tree.InsertionIndex(host.Node("c4")), 7);

    ASSERT_TRUE(tree.BringIntoView(host.Node("c3")));
    EXPECT_TRUE(host.Node("n1")->IsExpanded() && host.Node("n3")->IsExpanded()) << "every hiding parent opens";
    EXPECT_TRUE(host.Shown("c3"));
    EXPECT_EQ(tree.GetCurSel(), host.Row("c3")->GetIndex());
    const int selects = host.log.Count(notify::kItemSelect);
    EXPECT_TRUE(tree.SelectItem(tree.GetCurSel())) << "selecting the selected row succeeds";
    EXPECT_EQ(host.log.Count(notify::kItemSelect), selects) << "and changes nothing";

    EXPECT_TRUE(tree.RemoveNode(host.Node("n2")));
    EXPECT_EQ(host.Order(), Ids({"n1", "n3", "c3", "c4"}));
    EXPECT_EQ(host.Node("c1"), nullptr);
    EXPECT_EQ(host.Node("n1")->ChildCount(), 1u);
    EXPECT_FALSE(tree.RemoveNode(tree.Root()));
    EXPECT_FALSE(tree.RemoveNode(nullptr));
    EXPECT_TRUE(tree.RemoveAt(host.Row("c4")->GetIndex())) << "a row of a node goes as its node";
    EXPECT_EQ(host.Order(), Ids({"n1", "n3", "c3"}));

    // A node added later goes after its parent's last descendant.
    TreeNode* added = tree.AddNode(host.Node("n1"), *CameraRow("c9", "n1", "新摄像机", true));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(host.Order(), Ids({"n1", "n3", "c3", "c9"}));
    EXPECT_TRUE(host.Shown("c9")) << "its parent is expanded";

    tree.RemoveAll();
    EXPECT_EQ(tree.GetCount(), 0);
    EXPECT_EQ(tree.Root()->ChildCount(), 0u);
    EXPECT_EQ(host.Node("n1"), nullptr);
}

TEST(PermissionTree, NodesGetFoldersCamerasGetCheckBoxes) {
    TreeHost host;
    auto* permission = new CTreeViewUI(&host.root);
    permission->setObjectName("flPermiTreeList");
    host.layout->addWidget(permission);
    host.manager.AttachControls(permission);
    host.trees.SetPermissionTree(permission);
    std::vector<control::ItemPtr> rows = ThreeLevelRows();
    rows.push_back(NodeRow("empty", "n1", "空区域", 0, 0));
    rows.push_back(CameraRow("orphan", "nowhere", "无主", true));
    rows.push_back(NodeRow("n9", "0", "华南区", 1, 1));
    host.trees.BuildAll(rows);

    EXPECT_EQ(host.trees.RootNodeCount(), 2) << "华东区 and 华南区 (whose parent is not listed)";
    CTreeNodeUI* region = permission->FindNodeByName("n1");
    CTreeNodeUI* city = permission->FindNodeByName("n2");
    CTreeNodeUI* camera = permission->FindNodeByName("c1");
    ASSERT_TRUE(region && city && camera);
    EXPECT_EQ(permission->FindNodeByName("orphan"), nullptr) << "a camera without its node is left out";
    EXPECT_FALSE(region->GetParentNode()->IsVisible()) << "under the invisible root";
    EXPECT_EQ(city->GetParentNode(), region);
    EXPECT_EQ(camera->GetItemText(), "西湖入口");
    EXPECT_EQ(camera->GetUserData(), "sxt");
    EXPECT_EQ(city->GetUserData(), "node");
    EXPECT_TRUE(camera->IsCheckBoxVisible());
    EXPECT_FALSE(camera->HasFolderButton());
    EXPECT_EQ(camera->CheckBox().padding, QMargins(10, 6, 0, 0));
    EXPECT_EQ(camera->CheckBox().normalImage, "file='image//checkbox.png'");
    EXPECT_TRUE(city->HasFolderButton());
    EXPECT_EQ(city->Folder().padding, QMargins(5, 6, 0, 0));
    EXPECT_EQ(region->Folder().padding, QMargins(0, 6, 0, 0)) << "top-level folder";
    EXPECT_EQ(region->Folder().selectedImage, "file='Image//expand_on.png'");
    EXPECT_TRUE(city->IsCheckBoxVisible()) << "a node with cameras";
    EXPECT_EQ(city->CheckBox().padding, QMargins(0, 6, 0, 0));
    EXPECT_FALSE(permission->FindNodeByName("empty")->IsCheckBoxVisible()) << "a node without cameras";
    EXPECT_EQ(camera->GetFixedHeight(), 26);
    EXPECT_EQ(camera->TextColor(), QColor(255, 255, 255));
    EXPECT_EQ(permission->NodeOf(camera->Row()), camera);

    // The check box of a node checks what is below it; the folder hides it.
    host.Show();
    const QRect box = permission->CellRect(*city->Row(), *city->Row()->FindCell("checkbox"));
    ASSERT_TRUE(box.isValid());
    QTest::mouseClick(permission->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_TRUE(city->GetChkBoxCheck());
    EXPECT_TRUE(camera->GetChkBoxCheck() && permission->FindNodeByName("c2")->GetChkBoxCheck());
    EXPECT_FALSE(permission->FindNodeByName("c3")->GetChkBoxCheck());
    EXPECT_EQ(camera->Row()->FindCell("checkbox")->GetBkImage(), "file='image//checkbox_p.png'");
    ASSERT_NE(host.log.Last(notify::kSelectChanged), nullptr);
    EXPECT_EQ(host.log.Last(notify::kSelectChanged)->pSender, city);

    const QRect folder = permission->CellRect(*city->Row(), *city->Row()->FindCell("folder"));
    QTest::mouseClick(permission->viewport(), Qt::LeftButton, {}, folder.center());
    EXPECT_FALSE(city->IsExpanded());
    EXPECT_FALSE(camera->Row()->IsVisible());
    EXPECT_EQ(city->Row()->FindCell("folder")->GetBkImage(), "file='Image//expand_on.png'");

    // Row order walks, as the permission lists are built.
    std::vector<std::string> checked;
    permission->ForEachNode([&](CTreeNodeUI& node) {
        if (node.GetUserData() == "sxt" && node.GetChkBoxCheck()) checked.push_back(node.GetName());
    });
    EXPECT_EQ(checked, Ids({"c1", "c2"}));
    auto named = [](const char* text) { return [text](const CTreeNodeUI& n) { return n.GetItemText().find(text) != std::string::npos; }; };
    EXPECT_EQ(permission->FindNext(named("区"), nullptr), region);
    EXPECT_EQ(permission->FindNext(named("区"), region), permission->FindNodeByName("empty"));
}

TEST(PermissionTree, AttributeTextIsReadCarefully) {
    auto pairs = ParseSubAttributes(R"(visible="true" normalimage="file='a.png'" width='15' bad)");
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[1].second, "file='a.png'");
    EXPECT_EQ(pairs[2].second, "15");
    EXPECT_TRUE(ParseSubAttributes(R"(padding="1,2)").empty()) << "an unclosed quote ends the list";
    EXPECT_EQ(ParseColorText("#80FF0000"), QColor::fromRgba(0x80FF0000u));
    EXPECT_EQ(ParseColorText("#00FF00"), QColor(0, 255, 0));
    EXPECT_FALSE(ParseColorText("#GG0000"));
    EXPECT_FALSE(ParseColorText("white"));

    CTreeNodeUI node;
    node.SetAttribute("checkboxattr", R"(visible="true" padding="1,2,3" width="-4" height="99999")");
    EXPECT_TRUE(node.IsCheckBoxVisible());
    EXPECT_EQ(node.CheckBox().padding, QMargins()) << "a short padding is refused";
    EXPECT_EQ(node.CheckBox().width, 0);
    EXPECT_EQ(node.CheckBox().height, 0);
    node.SetAttribute("visible", "maybe");
    EXPECT_TRUE(node.IsVisible());
    node.SetAttribute("itemtextcolor", "#FF102030");
    EXPECT_EQ(node.TextColor(), QColor(0x10, 0x20, 0x30));
}
