#pragma once
// The camera trees a main window hosts, built from the item table:
//   - five CTreeList trees ("friends" live, "PBDevList" playback, "flCGPGroupTreeList"
//     camera groups, "flPPTreeList" play plans, "flSDTreeList" search device), each
//     with an index from tree item to its shared row, under a lock of its own because
//     task threads read it;
//   - the permission tree "flPermiTreeList" (library tree nodes with check boxes and
//     folder buttons) and the count of its top-level nodes;
//   - the camera search over the live tree, and the live tree's own events
//     (expand on click, hover button, bringing a search result into view).
// Everything here runs on the user-interface thread except Index reads.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QPointer>

#include "control/control_types.h"
#include "ui/toolkit/paint_manager.h"
#include "ui/toolkit/tree_view.h"
#include "ui/tree_list.h"

namespace session {
class ItemTable;
}

namespace ui {

// Tree item → row of the item table, kept in the tree's display order.
class TreeIndex {
public:
    struct Entry {
        TreeNode* node;
        control::ItemPtr item;
    };
    void Clear();
    void Add(TreeNode* node, control::ItemPtr item);
    void Remove(const std::unordered_set<const TreeNode*>& nodes);
    // Puts the entries in the order of their rows in the list (after a build).
    void SortByRow();
    control::ItemPtr Find(const TreeNode* node) const;
    std::vector<Entry> Copy() const;
    std::size_t Size() const;

private:
    mutable std::mutex lock_;
    std::vector<Entry> entries_;
    std::unordered_map<const TreeNode*, control::ItemPtr> byNode_;
};

// What the search remembers between runs.
struct CameraSearchState {
    std::string lastText;
    const TreeNode* lastFound = nullptr;
};

// Scans the index copy for `text`: an item whose name equals it wins at once, else the
// first whose name contains it. The same text as last time scans on after the last
// item found, so repeating a search walks through the matches; when nothing is found
// the state is cleared and the next search starts from the top.
TreeNode* SearchIndex(const std::vector<TreeIndex::Entry>& entries, const std::string& text,
                      CameraSearchState& state);

class CCameraTrees {
public:
    CCameraTrees() = default;
    CCameraTrees(const CCameraTrees&) = delete;
    CCameraTrees& operator=(const CCameraTrees&) = delete;
    ~CCameraTrees();

    enum Tree { kLive, kPlayback, kGroups, kPlayPlans, kSearchDevices, kTreeCount };
    static constexpr const char* kTreeNames[kTreeCount] = {"friends", "PBDevList", "flCGPGroupTreeList",
                                                           "flPPTreeList", "flSDTreeList"};
    static constexpr const char* kPermissionTree = "flPermiTreeList";
    static constexpr const char* kSearchEdit = "search_edit";
    static constexpr const char* kSearchResults = "searshRet";
    static constexpr int kPermissionRowHeight = 26;

    // Finds the six trees among the window's controls; absent ones are skipped.
    void Bind(CPaintManagerUI& manager);
    void SetTree(Tree which, CTreeList* tree);
    void SetPermissionTree(CTreeViewUI* tree) { permission_ = tree; }

    CTreeList* GetTree(Tree which) const { return trees_[which]; }
    CTreeViewUI* GetPermissionTree() const { return permission_; }
    const TreeIndex& Index(Tree which) const { return indexes_[which]; }
    // The account's areas: the nodes at the top of the live tree (the status bar's
    // "nodecount"), whether or not a window places that tree.
    int RootNodeCount() const { return rootNodes_; }

    // Empties the indexes and the six trees and builds them again from the rows, in
    // their order, keeping each tree's expanded nodes, chosen row and scroll place. A row's parent is found by id; a row whose parent is not there goes
    // to the top of the live trees.
    void BuildAll(const std::vector<control::ItemPtr>& rows);
    void BuildAll(const session::ItemTable& table);

    // The row of a camera or node of a tree, found by its id through the tree.
    control::ItemPtr FindItem(Tree which, const std::string& id) const;
    TreeNode* FindNode(Tree which, const std::string& id) const;

    // Runs the camera search on the live tree; the node found or nullptr.
    TreeNode* Search(const std::string& text);
    const CameraSearchState& SearchState() const { return search_; }

    // The live tree's events: "itemclick" and "node_logo" on a node with children
    // toggle it, "item_in" / "item_leave" show and hide the hover button, "itemselect"
    // on the search results brings the chosen item into view. True when the
    // notification must go no further (after "node_logo").
    bool HandleNotify(TNotifyUI& msg);

private:
    void AddPermissionRow(CTreeNodeUI* root, const control::ITEMINFO& row);
    bool IsLiveRow(const CControlUI* sender) const;
    // Keeps the tree's index free of nodes the tree deletes.
    void Watch(Tree which, CTreeList* tree);

    CPaintManagerUI* manager_ = nullptr;
    CTreeList* trees_[kTreeCount] = {};
    QPointer<CTreeList> watched_[kTreeCount];  // to unhook from trees that outlive this
    CTreeViewUI* permission_ = nullptr;
    TreeIndex indexes_[kTreeCount];
    int rootNodes_ = 0;
    CameraSearchState search_;
};

}  // namespace ui
