#include "ui/camera_trees.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "session/item_table.h"
#include "ui/toolkit/control.h"

namespace ui {
namespace {

constexpr const char* kWhite = "#FFFFFFFF";
constexpr const char* kTextPadding = R"(padding="5,7,0,0")";
constexpr const char* kCameraCheckBox =
    R"(visible="true" padding="10,6,0,0" width="15" height="15" normalimage="file='image//checkbox.png'" )"
    R"(hotimage="file='image//checkbox_h.png'" selectedimage="file='image//checkbox_p.png'" )"
    R"(selectedhotimage="file='image//checkbox_p.png'")";
constexpr const char* kNodeCheckBox =
    R"(visible="true" padding="0,6,0,0" width="15" height="15" normalimage="file='image//checkbox.png'" )"
    R"(hotimage="file='image//checkbox_h.png'" selectedimage="file='image//checkbox_p.png'" )"
    R"(selectedhotimage="file='image//checkbox_p.png'")";
constexpr const char* kNodeFolder =
    R"(padding="5,6,0,0" width="14" height="14" normalimage="file='Image//collapse_on.png'" )"
    R"(hotimage="file='Image//collapse_on.png'" selectedimage="file='Image//expand_on.png'" )"
    R"(selectedhotimage="file='Image//expand_on.png'")";
constexpr const char* kTopFolder =
    R"(padding="0,6,0,0" width="14" height="14" normalimage="file='Image//collapse_on.png'" )"
    R"(hotimage="file='Image//collapse_on.png'" selectedimage="file='Image//expand_on.png'" )"
    R"(selectedhotimage="file='Image//expand_on.png'")";

}  // namespace

// Index ------------------------------------------------------------------------------

void TreeIndex::Clear() {
    std::lock_guard lock(lock_);
    entries_.clear();
    byNode_.clear();
}

void TreeIndex::Add(TreeNode* node, control::ItemPtr item) {
    std::lock_guard lock(lock_);
    if (!byNode_.emplace(node, item).second) return;
    entries_.push_back({node, std::move(item)});
}

void TreeIndex::SortByRow() {
    std::lock_guard lock(lock_);
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.node->Element()->GetIndex() < b.node->Element()->GetIndex();
    });
}

void TreeIndex::Remove(const std::unordered_set<const TreeNode*>& nodes) {
    std::lock_guard lock(lock_);
    for (const TreeNode* node : nodes) byNode_.erase(node);
    std::erase_if(entries_, [&nodes](const Entry& entry) { return nodes.count(entry.node) != 0; });
}

control::ItemPtr TreeIndex::Find(const TreeNode* node) const {
    std::lock_guard lock(lock_);
    auto it = byNode_.find(node);
    return it == byNode_.end() ? nullptr : it->second;
}

std::vector<TreeIndex::Entry> TreeIndex::Copy() const {
    std::lock_guard lock(lock_);
    return entries_;
}

std::size_t TreeIndex::Size() const {
    std::lock_guard lock(lock_);
    return entries_.size();
}

// Search -----------------------------------------------------------------------------

TreeNode* SearchIndex(const std::vector<TreeIndex::Entry>& entries, const std::string& text,
                      CameraSearchState& state) {
    std::size_t start = 0;
    if (text == state.lastText && state.lastFound) {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].node == state.lastFound) {
                start = i + 1;
                break;
            }
    }
    TreeNode* result = nullptr;
    TreeNode* partial = nullptr;
    for (std::size_t i = start; i < entries.size(); ++i) {
        const std::string& name = entries[i].item->name;
        if (name == text) {
            result = entries[i].node;
            break;
        }
        if (!partial && name.find(text) != std::string::npos) partial = entries[i].node;
    }
    if (!result) result = partial;
    if (!result) {
        state = {};
        return nullptr;
    }
    state.lastText = text;
    state.lastFound = result;
    return result;
}

// Trees ------------------------------------------------------------------------------

CCameraTrees::~CCameraTrees() {
    for (auto& tree : watched_)
        if (tree) tree->SetNodesRemovedHandler(nullptr);
}

void CCameraTrees::Bind(CPaintManagerUI& manager) {
    manager_ = &manager;
    for (int i = 0; i < kTreeCount; ++i) Watch(static_cast<Tree>(i), manager.FindControl<CTreeList>(kTreeNames[i]));
    permission_ = manager.FindControl<CTreeViewUI>(kPermissionTree);
}

void CCameraTrees::SetTree(Tree which, CTreeList* tree) { Watch(which, tree); }

void CCameraTrees::Watch(Tree which, CTreeList* tree) {
    if (watched_[which] && watched_[which] != tree) watched_[which]->SetNodesRemovedHandler(nullptr);
    trees_[which] = tree;
    watched_[which] = tree;
    if (!tree) return;
    tree->SetNodesRemovedHandler([this, which](const std::unordered_set<const TreeNode*>& removed) {
        indexes_[which].Remove(removed);
        if (which == kLive && removed.count(search_.lastFound)) search_ = {};
    });
}

void CCameraTrees::BuildAll(const session::ItemTable& table) { BuildAll(table.Snapshot()); }

void CCameraTrees::BuildAll(const std::vector<control::ItemPtr>& rows) {
    for (TreeIndex& index : indexes_) index.Clear();
    search_ = {};
    // A refresh must not undo what the user opened, chose and scrolled to.
    CTreeList::ViewState views[kTreeCount];
    for (int i = 0; i < kTreeCount; ++i)
        if (CTreeList* tree = trees_[i]) {
            views[i] = tree->SaveViewState();
            tree->RemoveAll();
            tree->BeginUpdate();
        }

    rootNodes_ = 0;
    CTreeNodeUI* permissionRoot = nullptr;
    if (permission_) {
        permission_->RemoveAll();
        permission_->BeginUpdate();
        auto root = std::make_unique<CTreeNodeUI>();
        root->SetAttribute("visible", "false");
        permissionRoot = permission_->AddNode(std::move(root));
    }

    // The account's areas: nodes the live tree puts at its top, counted from the rows
    // themselves so that the count holds whichever trees a window places.
    std::unordered_set<std::string> listed;
    for (const control::ItemPtr& row : rows) {
        if (!row) continue;
        if (row->kind == control::ITEMINFO::kNode && (row->parentId.empty() || !listed.count(row->parentId)))
            ++rootNodes_;
        listed.insert(row->id);
        if (permissionRoot) AddPermissionRow(permissionRoot, *row);
        for (int i = 0; i < kTreeCount; ++i) {
            CTreeList* tree = trees_[i];
            if (!tree) continue;
            TreeNode* parent = row->parentId.empty() ? nullptr : tree->FindById(row->parentId);
            if (TreeNode* node = tree->AddNode(parent, *row)) indexes_[i].Add(node, row);
        }
    }

    for (int i = 0; i < kTreeCount; ++i)
        if (trees_[i]) {
            trees_[i]->EndUpdate();
            indexes_[i].SortByRow();
            trees_[i]->RestoreViewState(views[i]);
        }
    if (permission_) permission_->EndUpdate();
}

void CCameraTrees::AddPermissionRow(CTreeNodeUI* root, const control::ITEMINFO& row) {
    const bool camera = row.kind == control::ITEMINFO::kCamera;
    CTreeNodeUI* parent = row.parentId.empty() ? nullptr : permission_->FindNodeByName(row.parentId);
    // A camera needs its node; a node whose parent is not listed stands at the top.
    if (camera && !parent) return;
    const bool top = !parent;

    auto node = std::make_unique<CTreeNodeUI>();
    node->SetItemText(row.name);
    node->SetName(row.id);
    node->SetFixedHeight(kPermissionRowHeight);
    for (const char* color : {"itemtextcolor", "itemhottextcolor", "selitemhottextcolor", "selitemtextcolor"})
        node->SetAttribute(color, kWhite);
    node->SetAttribute("itemattr", kTextPadding);
    if (camera) {
        node->SetUserData("sxt");
        node->SetVisibleCheckBtn(true);
        node->SetVisibleFolderBtn(false);
        node->SetAttribute("checkboxattr", kCameraCheckBox);
    } else {
        node->SetUserData("node");
        node->SetAttribute("folderattr", top ? kTopFolder : kNodeFolder);
        int online = 0, cameras = 0;
        if (!row.countLabel.empty() && std::sscanf(row.countLabel.c_str(), "[%d/%d]", &online, &cameras) == 2 &&
            cameras > 0)
            node->SetAttribute("checkboxattr", kNodeCheckBox);
    }
    permission_->AddNode(std::move(node), top ? root : parent);
}

control::ItemPtr CCameraTrees::FindItem(Tree which, const std::string& id) const {
    TreeNode* node = FindNode(which, id);
    return node ? indexes_[which].Find(node) : nullptr;
}

TreeNode* CCameraTrees::FindNode(Tree which, const std::string& id) const {
    return trees_[which] ? trees_[which]->FindById(id) : nullptr;
}

TreeNode* CCameraTrees::Search(const std::string& text) {
    CControlUI* edit = manager_ ? manager_->FindControl(kSearchEdit) : nullptr;
    CTreeList* tree = trees_[kLive];
    if (text.empty() || !tree) {
        if (edit) edit->SetFocus();
        return nullptr;
    }
    TreeNode* found = SearchIndex(indexes_[kLive].Copy(), text, search_);
    if (!found) return nullptr;
    for (TreeNode* up = found; up && up != tree->Root(); up = up->Parent())
        if (tree->HasChildren(up)) tree->SetExpanded(up, true);
    tree->BringIntoView(found);
    if (edit) edit->SetFocus();
    return found;
}

bool CCameraTrees::IsLiveRow(const CControlUI* sender) const {
    auto* row = dynamic_cast<const CListElementUI*>(sender);
    return row && trees_[kLive] && row->GetOwner() == trees_[kLive];
}

bool CCameraTrees::HandleNotify(TNotifyUI& msg) {
    CTreeList* tree = trees_[kLive];
    if (!tree) return false;
    if (msg.sType == notify::kItemSelect && msg.pSender && msg.pSender->GetName() == kSearchResults) {
        auto* results = dynamic_cast<CListUI*>(msg.pSender);
        CListElementUI* chosen = results ? results->GetItemAt(static_cast<int>(msg.wParam)) : nullptr;
        if (chosen) tree->BringIntoView(tree->FindById(chosen->GetName()));
        return false;
    }
    if (!IsLiveRow(msg.pSender)) return false;
    TreeNode* node = CTreeList::NodeOf(msg.pSender);
    if (!node) return false;
    if (msg.sType == notify::kItemClick || msg.sType == "node_logo") {
        if (!node->IsCamera() && tree->HasChildren(node)) tree->SetExpanded(node, !node->IsExpanded());
        return msg.sType == "node_logo";
    }
    if (msg.sType == "item_in") tree->ShowHoverButton(node);
    if (msg.sType == "item_leave") tree->HideHoverButton(node);
    return false;
}

}  // namespace ui
