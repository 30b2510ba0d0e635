// Pictures of the camera tree (collapsed, expanded, searching), the permission tree,
// the calendar and the pop-up menu, rendered headless, each checked to show the rows
// and controls it is taken for. They go to $LARKVIEW_SCREENSHOTS when set
// (docs/screenshots is filled this way), otherwise to a temporary folder.
#include <QPainter>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

#include "support/screenshots.h"
#include "support/temp_dir.h"
#include "tree_fixture.h"
#include "ui/control_factory.h"
#include "ui/panels.h"
#include "ui/pickers.h"
#include "ui/pop_menu.h"

using namespace ui;
using testing_support::CameraRow;
using testing_support::NodeRow;

namespace {

class HostWindow final : public WindowImplBase {
public:
    std::string GetWindowClassName() const override { return "HostWindow"; }
    std::string GetSkinFile() override { return "none.xml"; }
    CControlUI* CreateControl(const std::string& tag, QWidget* parent) override { return factory.Create(tag, parent); }
    CControlFactory factory{*this};
};

// A small account: two regions, their cities and sites, cameras in every state.
std::vector<control::ItemPtr> DemoRows() {
    std::vector<control::ItemPtr> rows = {
        NodeRow("1", "0", "浙江省", 9, 12),        NodeRow("2", "1", "杭州市", 6, 8),
        NodeRow("3", "2", "西湖区", 4, 5),         NodeRow("4", "3", "文三路营业厅", 3, 3),
        NodeRow("5", "3", "黄龙体育中心", 1, 2),   NodeRow("6", "2", "滨江区", 2, 3),
        NodeRow("7", "1", "宁波市", 3, 4),         NodeRow("8", "0", "上海市", 5, 6),
        NodeRow("9", "8", "浦东新区", 5, 6),       NodeRow("10", "0", "江苏省", 0, 2),
    };
    const char* names[] = {"大门入口", "停车场东", "收银台", "仓库通道", "后门", "大厅全景", "电梯厅", "周界北侧"};
    int id = 1001;
    auto add = [&](const char* node, int count, int firstState) {
        for (int i = 0; i < count; ++i) {
            const int state = (firstState + i) % 4;
            const int camera = id++;
            auto row = CameraRow(std::to_string(camera), node, names[(camera + 1 + i) % 8], state != 1, state == 2,
                                 state == 2 ? "2024-03-31" : "2027-06-30");
            if (state == 3) row->live = true;
            rows.push_back(row);
        }
    };
    add("4", 4, 0);
    add("5", 2, 1);
    add("6", 3, 0);
    add("7", 4, 2);
    add("9", 6, 0);
    add("10", 2, 1);
    rows.push_back(CameraRow("2001", "9", "浦东机场T2出口", true));
    return rows;
}

class ScreenshotTest : public ::testing::Test {
protected:
    std::string Target(const std::string& name) { return testing_support::ScreenshotPath(dir.Path(), name); }
    void Save(const QImage& image, const std::string& name) { testing_support::SaveScreenshot(image, Target(name)); }
    // That a picture of `root` shows the tree row `id`: the cell with its name is drawn.
    static void ShowsRow(const QImage& picture, QWidget* root, CTreeList* tree, const std::string& id) {
        TreeNode* node = tree->FindById(id);
        ASSERT_NE(node, nullptr) << id;
        const std::string& name = node->Name();
        for (const auto& cell : node->Element()->Cells()) {
            if (cell->GetText().find(name) == std::string::npos) continue;
            const QRect place = tree->CellRect(*node->Element(), *cell);
            testing_support::ExpectDrawn(picture, QRect(tree->viewport()->mapTo(root, place.topLeft()), place.size()), name);
            return;
        }
        ADD_FAILURE() << "no cell of row " << id << " holds its name " << name;
    }
    testing_support::TempDir dir;
};

// The preview panel (with the live tree) in a window-like host.
struct PreviewHost {
    PreviewHost() {
        root.resize(300, 520);
        root.setObjectName("MainWin");
        root.setStyleSheet(StyleSheetFor({}, "none.xml") + "QWidget#MainWin { background: #171b22; }");
        auto* layout = new QVBoxLayout(&root);
        layout->setContentsMargins(0, 0, 0, 0);
        panel = window.factory.Create("PreviewPannel", &root);
        layout->addWidget(panel->GetWidget());
        window.m_PaintManager.Init(&root, nullptr, nullptr);
        trees.Bind(window.m_PaintManager);
        trees.BuildAll(DemoRows());
        root.show();
        QApplication::processEvents();
    }
    ~PreviewHost() { window.m_PaintManager.Shutdown(); }
    QImage Grab() {
        QApplication::processEvents();
        return root.grab().toImage();
    }
    HostWindow window;
    QWidget root;
    CControlUI* panel = nullptr;
    CCameraTrees trees;
};

}  // namespace

TEST_F(ScreenshotTest, CameraTreeCollapsedExpandedAndSearching) {
    PreviewHost host;
    CTreeList* tree = host.trees.GetTree(CCameraTrees::kLive);
    ASSERT_NE(tree, nullptr);
    QImage picture = host.Grab();
    for (const char* id : {"1", "8", "10"}) ShowsRow(picture, &host.root, tree, id);
    Save(picture, "tree_collapsed.png");

    for (const char* id : {"1", "2", "3", "4", "5", "6"}) tree->SetExpanded(tree->FindById(id), true);
    tree->ShowHoverButton(tree->FindById("1001"));
    picture = host.Grab();
    for (const char* id : {"4", "1001", "1004"}) ShowsRow(picture, &host.root, tree, id);
    Save(picture, "tree_expanded.png");

    for (const char* id : {"1", "2", "3", "4", "5", "6"}) tree->SetExpanded(tree->FindById(id), false);
    tree->HideHoverButton(tree->FindById("1001"));
    auto* edit = host.window.m_PaintManager.FindControl<CEditUI>("search_edit");
    ASSERT_NE(edit, nullptr);
    edit->SetText("机场");
    TreeNode* found = host.trees.Search("机场");
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(found->Element()->IsVisible());
    picture = host.Grab();
    ShowsRow(picture, &host.root, tree, "2001");
    testing_support::ExpectShows(picture, &host.root, edit, "机场");
    Save(picture, "tree_searching.png");
}

TEST_F(ScreenshotTest, PermissionTree) {
    HostWindow window;
    QWidget root;
    root.resize(320, 420);
    root.setObjectName("MainWin");
    root.setStyleSheet(StyleSheetFor({}, "none.xml") + "QWidget#MainWin { background: #171b22; }");
    auto* layout = new QVBoxLayout(&root);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(window.factory.Create("PermissionPanel", &root)->GetWidget());
    window.m_PaintManager.Init(&root, nullptr, nullptr);
    CCameraTrees trees;
    trees.Bind(window.m_PaintManager);
    trees.BuildAll(DemoRows());
    CTreeViewUI* permission = trees.GetPermissionTree();
    ASSERT_NE(permission, nullptr);
    permission->SetItemCheckBox(true, permission->FindNodeByName("4"));
    permission->SetItemExpand(false, permission->FindNodeByName("7"));
    root.show();
    QApplication::processEvents();
    const QImage picture = root.grab().toImage();
    testing_support::ExpectShows(picture, &root, permission);
    Save(picture, "permission_tree.png");
    window.m_PaintManager.Shutdown();
}

TEST_F(ScreenshotTest, CalendarAndMenu) {
    QWidget host;
    auto* field = new COptionUI(&host);
    field->SetText("2015-07-16 08:30:00");
    auto* calendar = CCalWnd::OpenFor(field, 0, QPoint(100, 500));
    ASSERT_NE(calendar, nullptr);
    QApplication::processEvents();
    const QImage shown = calendar->GetWidget()->grab().toImage();
    auto calendarShows = [&](const char* name, const std::string& text) {
        testing_support::ExpectShows(shown, calendar->GetWidget(), calendar->m_PaintManager.FindControl(name), text);
    };
    calendarShows("TXT_YEAR", "2015");
    calendarShows("TXT_MONTH", "");
    calendarShows("lbWeek0", "");
    Save(shown, "calendar.png");
    calendar->Close();

    CPopMenu menu("CameraPopMenu.xml");
    ASSERT_TRUE(menu.Show(nullptr, 40, 40));
    QApplication::processEvents();
    // The menu over its shadow, on the dark desk.
    const QSize size = menu.GetWidget()->size();
    QImage picture(size + QSize(40, 40), QImage::Format_ARGB32);
    picture.fill(QColor("#171b22"));
    QPainter painter(&picture);
    menu.Shadow()->render(&painter, QPoint(20, 20), QRegion(), QWidget::DrawChildren);
    menu.GetWidget()->render(&painter, QPoint(20, 20), QRegion(QRect(QPoint(), size).adjusted(8, 8, -8, -8)),
                             QWidget::DrawChildren);
    painter.end();
    for (const char* item : kCameraMenuItems) {
        QWidget* widget = menu.m_PaintManager.FindControl(item)->GetWidget();
        testing_support::ExpectDrawn(picture, QRect(widget->mapTo(menu.GetWidget(), QPoint(20, 20)), widget->size()), item);
    }
    Save(picture, "menu.png");
    menu.Close();
}
