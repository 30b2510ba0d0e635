#pragma once
// The camera tree: a list of lightweight rows (toolkit CListUI) with a tree of nodes
// over it. Node rows come from "NodeItemsWin.xml", camera rows from
// "CameraItemsWin.xml"; each template is read once per tree. A node's descendants
// follow it in the list, so expanding or collapsing touches only that range.
//
// Notifications through the window's paint manager:
//   "sxt_start", "sxt_rec", "sxt_alarm", "node_logo", "node_start", "node_close":
//       a press on that button of a row; the sender is the row (its tag is its TreeNode);
//   "enable_btn": a press on the hover button of a camera row (open it for viewing);
//   "item_in", "item_leave": the pointer entered or left a row (sender: the row);
//   "node_menu": a context-menu request on the tree (sender: the tree), when enabled;
//   and the list's own "itemclick", "itemdbclick", "itemselect".
// A press on a row's button belongs to the button: it neither selects the row nor
// counts as a click of it.
//
// A row's name gets the room it needs first: the expiry date (camera) or the count
// (node) beside it is shortened, then left out, before the name is cut; the hover
// button takes the date's place. Every row's tooltip tells its whole name, id, state
// and expiry as plain text.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "control/control_types.h"
#include "ui/toolkit/list.h"
#include "ui/wheel_scroll.h"

class QTimer;

namespace ui {

class CTreeList;

// One item of a tree, owned by its tree. Children are in display order; their list is
// locked because task threads walk the nodes of the main window's trees.
class TreeNode {
public:
    int Level() const { return level_; }
    bool IsExpanded() const { return expanded_; }
    bool IsCamera() const { return camera_; }
    bool IsActive() const { return active_; }
    bool IsExpired() const { return expired_; }
    // Shown in a cell of the live wall (the row's live icons).
    bool IsLive() const { return live_; }
    const std::string& Name() const { return name_; }
    const std::string& Id() const { return id_; }
    const std::string& ExpiryText() const { return expiryText_; }
    TreeNode* Parent() const { return parent_; }
    // The row that shows this node; nullptr for the root.
    CListElementUI* Element() const { return element_; }

    std::size_t ChildCount() const;
    TreeNode* ChildAt(std::size_t index) const;
    std::vector<TreeNode*> Children() const;

private:
    friend class CTreeList;
    TreeNode* LastChild() const;

    int level_ = -1;
    bool expanded_ = true;
    bool camera_ = false;
    bool active_ = false;
    bool expired_ = false;
    bool live_ = false;
    std::string name_;
    std::string id_;
    std::string expiryText_;
    TreeNode* parent_ = nullptr;
    CListElementUI* element_ = nullptr;
    mutable std::mutex childLock_;
    std::vector<std::unique_ptr<TreeNode>> children_;
    // The row while a batch of additions is open (BeginUpdate), before it joins the list.
    std::unique_ptr<CListElementUI> pending_;
};

class CTreeList : public CListUI {
public:
    static constexpr const char* kCameraItemSkin = "CameraItemsWin.xml";
    static constexpr const char* kNodeItemSkin = "NodeItemsWin.xml";
    static constexpr std::uintptr_t kScrollTimer = 10;
    static constexpr int kCameraHeight = 22;
    static constexpr int kNodeHeight = 28;
    static constexpr int kIndentStep = 10;

    // Icons of the rows.
    static constexpr const char* kIconCameraActive = "file='Image\\cctv_line.png'";
    static constexpr const char* kIconCameraInactive = "file='Image\\cctv_b.png'";
    static constexpr const char* kIconCameraExpired = "file='Image\\cctv_b_Money.png'";
    static constexpr const char* kIconCameraLive = "file='Image\\cctv_line_play.png'";
    static constexpr const char* kIconStop = "file='Image\\stop_mix.png'";
    static constexpr const char* kIconPlay = "file='Image\\play_mix.png'";
    static constexpr const char* kIconExpandedActive = "file='Image\\collapse_on.png'";
    static constexpr const char* kIconExpandedInactive = "file='Image\\collapse_off.png'";
    static constexpr const char* kIconCollapsedActive = "file='Image\\expand_on.png'";
    static constexpr const char* kIconCollapsedInactive = "file='Image\\expand_off.png'";

    // `manager`: the window's paint manager (notifications and the scroll timer); the
    // window attaches it later when it is not known yet.
    explicit CTreeList(CPaintManagerUI* manager = nullptr, QWidget* parent = nullptr);
    ~CTreeList() override;
    std::string GetClass() const override { return "TreeList"; }

    // The invisible root (level -1, always expanded).
    TreeNode* Root() const { return root_.get(); }
    // The tree node a row (or a part of a row) of any tree stands for, or nullptr.
    static TreeNode* NodeOf(const CControlUI* control);

    // Adds a row for `row` under `parent` (nullptr: the root), after the parent's last
    // descendant. Nothing when the item template cannot be built.
    TreeNode* AddNode(TreeNode* parent, const control::ITEMINFO& row);
    // Removes the node with everything below it; false for nothing or the root.
    bool RemoveNode(TreeNode* node);
    // Told which nodes a removal is about to delete (a node with everything below it,
    // or every node at RemoveAll), so that whoever keeps pointers to nodes drops them.
    using NodesRemovedHandler = std::function<void(const std::unordered_set<const TreeNode*>& removed)>;
    void SetNodesRemovedHandler(NodesRemovedHandler handler) { nodesRemoved_ = std::move(handler); }
    void SetExpanded(TreeNode* node, bool expanded);
    bool HasChildren(const TreeNode* node) const;
    // The first node in display order with that id, or nullptr.
    TreeNode* FindById(const std::string& id) const;
    // The list index just after the node's last descendant (0 for the root of an
    // empty tree). Valid outside batches.
    int InsertionIndex(const TreeNode* node) const;

    void SetLiveIcons(CListElementUI* element, bool live);
    void SetExpiryText(CListElementUI* element, const std::string& text);
    // A renewed camera is in service again (its row's icons are the caller's).
    void SetExpired(TreeNode* node, bool expired);
    // The "enable_btn" of an active camera's row, shown while the pointer is over it.
    void ShowHoverButton(TreeNode* node);
    void HideHoverButton(TreeNode* node);
    // Expands whatever hides the node and selects its row (scrolling it into view).
    bool BringIntoView(TreeNode* node);

    // What the user made of the tree: expanded nodes, the chosen row and the scroll
    // place, by id, so that a tree built again from new rows looks as it did.
    struct ViewState {
        std::vector<std::string> expanded;  // in display order, parents first
        std::string selected;
        std::string top;  // the row at the top of the view
        int topOffset = 0;  // pixels of that row scrolled out above
    };
    ViewState SaveViewState() const;
    // Ids that are gone are skipped.
    void RestoreViewState(const ViewState& state);

    // The tooltip of a row (plain text).
    QString RowToolTip(const CListElementUI& row) const override;

    // Batches additions: rows join the list in one step at EndUpdate instead of one
    // insert each (building 10,000 rows). Nodes may be added, found and expanded
    // meanwhile; list indexes are valid again after EndUpdate.
    void BeginUpdate();
    void EndUpdate();
    bool IsUpdating() const { return updating_; }

    // Rows that are not tree nodes go straight to the list; rows with a node are
    // removed as nodes; RemoveAll leaves an empty tree with a fresh root.
    bool Remove(CListElementUI* row) override;
    bool RemoveAt(int index) override;
    void RemoveAll() override;
    // Selecting the selected row again does nothing and succeeds.
    bool SelectItem(int index) override;

    void SetContextMenuUsed(bool used) { contextMenu_ = used; }
    bool IsContextMenuUsed() const { return contextMenu_; }
    // A tree that takes no mouse input leaves it to what lies beneath.
    void SetMouseEnabled(bool enabled);

    const SmoothWheel& Wheel() const { return wheel_; }
    bool OnTimer(std::uintptr_t id) override;
    // One tick of the glide (what timer 10 does); public for tests and benchmarks.
    void ScrollTick();

protected:
    void ArrangeCells(const CListElementUI& row, CellLayout& places) const override;
    void OnCellButtonDown(CListElementUI& row, CListCellUI& cell) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void NotifyFrom(CControlUI* sender, const char* type);
    void SetNodeLogo(TreeNode* node);
    void SetHovered(CListElementUI* row);
    void StartScrollTimer();
    void StopScrollTimer();
    void DetachNode(TreeNode* node, std::unordered_set<const TreeNode*>& removed);
    void ForgetId(TreeNode* node);
    void Unlink(TreeNode* node);

    std::unique_ptr<TreeNode> root_;
    std::unordered_map<std::string, std::vector<TreeNode*>> byId_;
    std::unordered_set<const TreeNode*> live_;  // every node below the root
    NodesRemovedHandler nodesRemoved_;
    SmoothWheel wheel_;
    QTimer* ownTimer_ = nullptr;  // the glide's timer when no paint manager is attached
    int wheelRest_ = 0;           // wheel angle not yet a whole notch (fine-grained wheels)
    CListElementUI* hovered_ = nullptr;
    bool updating_ = false;
    bool contextMenu_ = false;
};

}  // namespace ui
