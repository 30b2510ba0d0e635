#pragma once
// Rows and a headless host for the camera-tree tests: a widget with a paint manager
// (as a window has) whose notifications are recorded.

#include <QApplication>
#include <QVBoxLayout>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "control/control_types.h"
#include "ui/camera_trees.h"
#include "ui/toolkit/paint_manager.h"
#include "ui/toolkit/window.h"
#include "ui/tree_list.h"

namespace testing_support {

class NotifyLog final : public ui::INotifyUI {
public:
    std::vector<ui::TNotifyUI> notes;
    void Notify(ui::TNotifyUI& msg) override { notes.push_back(msg); }
    int Count(const std::string& type) const {
        int n = 0;
        for (const auto& note : notes) n += note.sType == type;
        return n;
    }
    const ui::TNotifyUI* Last(const std::string& type) const {
        for (auto it = notes.rbegin(); it != notes.rend(); ++it)
            if (it->sType == type) return &*it;
        return nullptr;
    }
};

inline control::ItemPtr NodeRow(const std::string& id, const std::string& parent, const std::string& name,
                                int online, int total) {
    auto row = std::make_shared<control::ITEMINFO>();
    row->kind = control::ITEMINFO::kNode;
    row->id = id;
    row->parentId = parent;
    row->name = name;
    row->countLabel = "[" + std::to_string(online) + "/" + std::to_string(total) + "]";
    row->active = online > 0;
    return row;
}

inline control::ItemPtr CameraRow(const std::string& id, const std::string& parent, const std::string& name,
                                  bool active, bool expired = false, const std::string& expiry = "2027-06-30") {
    auto row = std::make_shared<control::ITEMINFO>();
    row->kind = control::ITEMINFO::kCamera;
    row->id = id;
    row->parentId = parent;
    row->name = name;
    row->active = active;
    row->expired = expired;
    row->expiryDate = expiry;
    return row;
}

// A widget standing in for a window: the trees sit in it and report to `log`.
class TreeHost {
public:
    explicit TreeHost(int width = 300, int height = 420) {
        root.resize(width, height);
        layout = new QVBoxLayout(&root);
        layout->setContentsMargins(0, 0, 0, 0);
        search = new ui::CEditUI(&root);
        search->setObjectName("search_edit");
        layout->addWidget(search);
        manager.Init(&root, &log, nullptr);
        tree = new ui::CTreeList(&manager, &root);
        tree->setObjectName("friends");
        layout->addWidget(tree);
        root.setStyleSheet(ui::StyleSheetFor({}, "none.xml"));
        trees.SetTree(ui::CCameraTrees::kLive, tree);
        manager.AttachControls(&root);
        trees.Bind(manager);
    }
    ~TreeHost() { manager.Shutdown(); }

    void Show() {
        root.show();
        QApplication::processEvents();
    }
    ui::TreeNode* Node(const std::string& id) const { return tree->FindById(id); }
    ui::CListElementUI* Row(const std::string& id) const {
        ui::TreeNode* node = Node(id);
        return node ? node->Element() : nullptr;
    }
    bool Shown(const std::string& id) const { return Row(id) && Row(id)->IsVisible(); }
    std::string Image(const std::string& id, const char* cell) const {
        ui::CListCellUI* part = Row(id) ? Row(id)->FindCell(cell) : nullptr;
        return part ? part->GetBkImage() : "<no cell>";
    }
    std::string Text(const std::string& id, const char* cell) const {
        ui::CListCellUI* part = Row(id) ? Row(id)->FindCell(cell) : nullptr;
        return part ? part->GetText() : "<no cell>";
    }
    // Display order of the list, by id.
    std::vector<std::string> Order() const {
        std::vector<std::string> ids;
        for (int i = 0; i < tree->GetCount(); ++i) ids.push_back(tree->GetItemAt(i)->GetName());
        return ids;
    }

    QWidget root;
    QVBoxLayout* layout = nullptr;
    ui::CEditUI* search = nullptr;
    NotifyLog log;
    ui::CPaintManagerUI manager;
    ui::CTreeList* tree = nullptr;
    ui::CCameraTrees trees;
};

// Three levels: a region with two cities and their cameras, in table order.
inline std::vector<control::ItemPtr> ThreeLevelRows() {
    std::vector<control::ItemPtr> rows = {
        NodeRow("n1", "", "华东区", 3, 4),
        NodeRow("n2", "n1", "杭州", 1, 2),
        NodeRow("n3", "n1", "上海", 2, 2),
        CameraRow("c1", "n2", "西湖入口", true),
        CameraRow("c2", "n2", "断桥", false),
        CameraRow("c3", "n3", "外滩", true, true, "2014-12-31"),
        CameraRow("c4", "n3", "浦东机场", true),
    };
    rows[6]->live = true;
    return rows;
}

}  // namespace testing_support
