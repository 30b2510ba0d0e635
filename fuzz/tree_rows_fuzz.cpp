// Arbitrary rows (as the camera list may bring them) built into a camera tree and the
// permission tree, then searched, expanded, collapsed and pruned: never a crash, and
// the list always holds the tree's rows in display order.
//
// Input: lines "kind|id|parent|name|count label|flags" (kind '1' camera, flags bits:
// 1 active, 2 expired, 4 expanded, 8 live), then commands: "?text" search,
// "+id" expand, "-id" collapse, "x id" remove.
#include <QApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ui/camera_trees.h"
#include "ui/toolkit/paint_manager.h"

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

// Rows of the list are the nodes in display order, and every node's descendants
// follow it directly.
void CheckOrder(ui::CTreeList& tree) {
    int next = 0;
    std::vector<ui::TreeNode*> stack{tree.Root()};
    while (!stack.empty()) {
        ui::TreeNode* node = stack.back();
        stack.pop_back();
        if (node != tree.Root() && node->Element()->GetIndex() != next++) std::abort();
        std::vector<ui::TreeNode*> children = node->Children();
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    if (next != tree.GetCount()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int qtArgc = 1;
    static QApplication application(qtArgc, *argv);
    ui::CPaintManagerUI::SetResourcePath(LARKVIEW_SKIN_DIR);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<control::ItemPtr> rows;
    std::vector<std::string_view> commands;
    for (std::string_view line : Split(input, '\n')) {
        if (!line.empty() && (line[0] == '?' || line[0] == '+' || line[0] == '-' || line[0] == 'x')) {
            commands.push_back(line);
            continue;
        }
        std::vector<std::string_view> f = Split(line, '|');
        if (f.size() < 3 || rows.size() >= 400) continue;
        auto row = std::make_shared<control::ITEMINFO>();
        row->kind = f[0] == "1" ? control::ITEMINFO::kCamera : control::ITEMINFO::kNode;
        row->id = std::string(f[1]);
        row->parentId = std::string(f[2]);
        if (f.size() > 3) row->name = std::string(f[3]);
        if (f.size() > 4) row->countLabel = std::string(f[4]);
        const int flags = f.size() > 5 && !f[5].empty() ? f[5][0] : 0;
        row->active = flags & 1;
        row->expired = flags & 2;
        row->expanded = flags & 4;
        row->live = flags & 8;
        rows.push_back(std::move(row));
    }

    QWidget root;
    ui::CPaintManagerUI manager;
    manager.Init(&root, nullptr, nullptr);
    auto* tree = new ui::CTreeList(&manager, &root);
    auto* permission = new ui::CTreeViewUI(&root);
    ui::CCameraTrees trees;
    trees.SetTree(ui::CCameraTrees::kLive, tree);
    trees.SetPermissionTree(permission);
    trees.BuildAll(rows);
    if (tree->GetCount() != static_cast<int>(rows.size())) std::abort();
    if (permission->GetNodeCount() > rows.size() + 1) std::abort();
    CheckOrder(*tree);

    for (std::string_view command : commands) {
        const std::size_t skip = command[0] == 'x' ? 2 : 1;
        const std::string arg(command.size() > skip ? command.substr(skip) : std::string_view());
        if (command[0] == '?') {
            trees.Search(arg);
        } else if (command[0] == '+' || command[0] == '-') {
            tree->SetExpanded(tree->FindById(arg), command[0] == '+');
        } else {
            tree->RemoveNode(tree->FindById(arg));
            permission->RemoveNode(permission->FindNodeByName(arg));
        }
        CheckOrder(*tree);
    }
    // A node's row is shown exactly when every node above it is expanded.
    std::vector<ui::TreeNode*> stack{tree->Root()};
    while (!stack.empty()) {
        ui::TreeNode* node = stack.back();
        stack.pop_back();
        for (ui::TreeNode* child : node->Children()) {
            bool open = true;
            for (ui::TreeNode* up = child->Parent(); up != tree->Root(); up = up->Parent()) open = open && up->IsExpanded();
            if (child->Element()->IsVisible() != open) std::abort();
            stack.push_back(child);
        }
    }
    manager.Shutdown();
    return 0;
}
