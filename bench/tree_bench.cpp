// The camera trees of an account with 10,000 cameras under 1,000 nodes: building all
// six trees from the item table, one camera search, expanding and collapsing a node
// of 1,000 cameras, and one tick of a wheel glide. Headless (offscreen), with the
// built skin folder.
#include <QApplication>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <benchmark/benchmark.h>

#include "control/camera_rows.h"
#include "ui/camera_trees.h"
#include "ui/toolkit/paint_manager.h"
#include "ui/toolkit/window.h"

namespace {

constexpr int kCameras = 10000;
constexpr int kNodes = 1000;
constexpr int kBigNodeCameras = 1000;

control::ItemPtr Row(int kind, std::string id, std::string parent, std::string name, bool active) {
    auto row = std::make_shared<control::ITEMINFO>();
    row->kind = kind;
    row->id = std::move(id);
    row->parentId = std::move(parent);
    row->name = std::move(name);
    row->active = active;
    row->countLabel = kind == control::ITEMINFO::kNode ? "[8/10]" : "";
    row->expiryDate = "2027-06-30";
    row->expired = kind == control::ITEMINFO::kCamera && std::stoi(row->id.substr(1)) % 11 == 5;
    return row;
}

// 10 regions, 9 cities each, 10 sites per city (999 nodes) and one site of 1,000
// cameras; the other 9,000 cameras spread over the sites. Ordered like the item table.
std::vector<control::ItemPtr> AccountRows() {
    std::vector<control::ItemPtr> rows;
    std::vector<std::string> sites;
    int node = 0;
    for (int r = 0; r < 10; ++r) {
        const std::string region = "n" + std::to_string(node++);
        rows.push_back(Row(control::ITEMINFO::kNode, region, "", "区域" + std::to_string(r), true));
        for (int c = 0; c < 9; ++c) {
            const std::string city = "n" + std::to_string(node++);
            rows.push_back(Row(control::ITEMINFO::kNode, city, region, "城市" + std::to_string(r * 9 + c), true));
            for (int s = 0; s < 10 && node < kNodes - 1; ++s) {
                const std::string site = "n" + std::to_string(node++);
                rows.push_back(Row(control::ITEMINFO::kNode, site, city, "站点" + std::to_string(node), true));
                sites.push_back(site);
            }
        }
    }
    rows.push_back(Row(control::ITEMINFO::kNode, "big", "n1", "大型园区", true));
    for (int i = 0; i < kCameras; ++i) {
        const std::string parent = i < kBigNodeCameras ? "big" : sites[i % sites.size()];
        rows.push_back(Row(control::ITEMINFO::kCamera, "c" + std::to_string(i), parent,
                           "摄像机" + std::to_string(i), i % 7 != 3));
    }
    control::ReorderRows(rows);
    return rows;
}

struct Trees {
    Trees() {
        root.resize(320, 900);
        auto* layout = new QVBoxLayout(&root);
        manager.Init(&root, nullptr, nullptr);
        for (int i = 0; i < ui::CCameraTrees::kTreeCount; ++i) {
            auto* tree = new ui::CTreeList(&manager, &root);
            tree->setObjectName(ui::CCameraTrees::kTreeNames[i]);
            layout->addWidget(tree);
            tree->setVisible(i == ui::CCameraTrees::kLive);
            trees.SetTree(static_cast<ui::CCameraTrees::Tree>(i), tree);
        }
        permission = new ui::CTreeViewUI(&root);
        permission->setVisible(false);
        layout->addWidget(permission);
        trees.SetPermissionTree(permission);
        root.show();
        QApplication::processEvents();
    }
    ~Trees() { manager.Shutdown(); }
    ui::CTreeList* Live() const { return trees.GetTree(ui::CCameraTrees::kLive); }

    QWidget root;
    ui::CPaintManagerUI manager;
    ui::CCameraTrees trees;
    ui::CTreeViewUI* permission = nullptr;
};

void BM_BuildAllTrees(benchmark::State& state) {
    const std::vector<control::ItemPtr> rows = AccountRows();
    Trees t;
    for (auto _ : state) {
        t.trees.BuildAll(rows);
        QApplication::processEvents();  // the live tree lays out and paints
    }
    state.counters["rows_per_tree"] = static_cast<double>(t.Live()->GetCount());
    state.counters["permission_nodes"] = static_cast<double>(t.permission->GetNodeCount());
}
BENCHMARK(BM_BuildAllTrees)->Unit(benchmark::kMillisecond);

// The first build after login: the trees are empty.
void BM_BuildAllTreesFromEmpty(benchmark::State& state) {
    const std::vector<control::ItemPtr> rows = AccountRows();
    Trees t;
    for (auto _ : state) {
        state.PauseTiming();
        t.trees.BuildAll(std::vector<control::ItemPtr>{});
        QApplication::processEvents();
        state.ResumeTiming();
        t.trees.BuildAll(rows);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_BuildAllTreesFromEmpty)->Unit(benchmark::kMillisecond);

void BM_SearchOnce(benchmark::State& state) {
    Trees t;
    t.trees.BuildAll(AccountRows());
    // Two texts in turn: each search starts from the top of the index.
    const std::string texts[] = {"摄像机9876", "摄像机5432"};
    int i = 0;
    for (auto _ : state) {
        if (!t.trees.Search(texts[i++ % 2])) state.SkipWithError("not found");
    }
}
BENCHMARK(BM_SearchOnce)->Unit(benchmark::kMillisecond);

void BM_ExpandNodeOf1000Cameras(benchmark::State& state) {
    Trees t;
    t.trees.BuildAll(AccountRows());
    ui::CTreeList* tree = t.Live();
    ui::TreeNode* big = tree->FindById("big");
    tree->BringIntoView(big);
    QApplication::processEvents();
    for (auto _ : state) {
        tree->SetExpanded(big, true);
        QApplication::processEvents();
        state.PauseTiming();
        tree->SetExpanded(big, false);
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["children"] = static_cast<double>(big->ChildCount());
}
BENCHMARK(BM_ExpandNodeOf1000Cameras)->Unit(benchmark::kMillisecond);

void BM_CollapseNodeOf1000Cameras(benchmark::State& state) {
    Trees t;
    t.trees.BuildAll(AccountRows());
    ui::CTreeList* tree = t.Live();
    ui::TreeNode* big = tree->FindById("big");
    tree->BringIntoView(big);
    for (auto _ : state) {
        state.PauseTiming();
        tree->SetExpanded(big, true);
        QApplication::processEvents();
        state.ResumeTiming();
        tree->SetExpanded(big, false);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_CollapseNodeOf1000Cameras)->Unit(benchmark::kMillisecond);

void BM_GlideTick(benchmark::State& state) {
    Trees t;
    t.trees.BuildAll(AccountRows());
    ui::CTreeList* tree = t.Live();
    tree->BringIntoView(tree->FindById("big"));
    tree->SetExpanded(tree->FindById("big"), true);
    QApplication::processEvents();
    QScrollBar* bar = tree->verticalScrollBar();
    for (auto _ : state) {
        bar->setValue(bar->maximum() / 2);
        QWheelEvent notch(QPointF(50, 50), QPointF(50, 50), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(tree->viewport(), &notch);
        tree->ScrollTick();
        QApplication::processEvents();  // repaint after the step
    }
}
BENCHMARK(BM_GlideTick)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ui::CPaintManagerUI::SetResourcePath(LARKVIEW_SKIN_DIR);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
