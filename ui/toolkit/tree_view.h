#pragma once
// The library's tree control: nodes shown as rows of a list, each with an optional
// folder button (expand, collapse), an optional check box and its text. Rows are
// lightweight (toolkit CListUI), so a tree of 10,000 nodes stays quick.
//
// Node attributes, given as text like the skins give them:
//   "visible"                 "false": the node's own row is not shown; its children are
//   "height"                  row height in pixels
//   "itemtextcolor", "itemhottextcolor", "selitemtextcolor", "selitemhottextcolor"
//                             "#AARRGGBB" (the text is drawn in "itemtextcolor")
//   "itemattr"                attributes of the text: padding="l,t,r,b"
//   "checkboxattr", "folderattr"
//                             visible="true" padding="l,t,r,b" width="15" height="15"
//                             normalimage="…" hotimage="…" selectedimage="…" selectedhotimage="…"
// A folder button shows its selected image while the node is collapsed. A press on the
// folder expands or collapses the node; a press on the check box checks or clears the
// node and everything below it and sends "selectchanged" from the node.

#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ui/toolkit/list.h"

namespace ui {

class CTreeViewUI;

// One sub-control of a node row: where it sits and how it looks.
struct TreeNodePart {
    bool visible = false;
    QMargins padding;
    int width = 0;
    int height = 0;
    std::string normalImage;
    std::string hotImage;
    std::string selectedImage;
    std::string selectedHotImage;
};

// Reads `name="value" name='value' …` (values may hold the other quote); unknown names
// are kept, malformed text ends the list. Never throws.
std::vector<std::pair<std::string, std::string>> ParseSubAttributes(std::string_view text);
// "#AARRGGBB" or "#RRGGBB"; nothing for anything else.
std::optional<QColor> ParseColorText(std::string_view text);

class CTreeNodeUI final : public CControlUI {
public:
    CTreeNodeUI();
    ~CTreeNodeUI() override;

    std::string GetClass() const override { return "TreeNode"; }
    std::string GetName() const override { return name_; }
    void SetName(std::string name);
    std::string GetText() const override { return itemText_; }
    void SetText(const std::string& text) override { SetItemText(text); }
    void SetItemText(const std::string& text);
    const std::string& GetItemText() const { return itemText_; }
    // The node's own "visible" attribute (its row may still be hidden by a collapsed parent).
    bool IsVisible() const override { return visible_; }
    void SetVisible(bool visible) override;
    bool IsEnabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    // The tree the node belongs to, once added.
    CControlUI* GetParent() const override;

    // Unknown attributes are ignored; malformed values leave the attribute as it was.
    void SetAttribute(const std::string& name, const std::string& value);
    void SetFixedHeight(int pixels);
    int GetFixedHeight() const { return height_; }

    CTreeNodeUI* GetParentNode() const { return parent_; }
    int GetCountChild() const { return static_cast<int>(children_.size()); }
    CTreeNodeUI* GetChildNode(int index) const;
    bool IsHasChild() const { return !children_.empty(); }
    // 0 for a node at the top of the tree.
    int GetTreeLevel() const { return level_; }

    bool IsCheckBoxVisible() const { return checkBox_.visible; }
    bool GetChkBoxCheck() const { return checked_; }
    // Only this node (CTreeViewUI::SetItemCheckBox also sets the nodes below).
    void SetChkBoxCheck(bool checked);
    void SetVisibleCheckBtn(bool visible);
    bool HasFolderButton() const { return folder_.visible; }
    void SetVisibleFolderBtn(bool visible);
    bool IsExpanded() const { return expanded_; }
    const TreeNodePart& CheckBox() const { return checkBox_; }
    const TreeNodePart& Folder() const { return folder_; }
    QColor TextColor() const { return textColor_; }

    // The row that shows the node (nullptr before it is added).
    CListElementUI* Row() const { return row_; }

private:
    friend class CTreeViewUI;
    void ApplyPart(TreeNodePart& part, const std::string& value);
    // Puts the parts in their places and sets their images.
    void Refresh();

    std::string name_;
    std::string itemText_;
    bool visible_ = true;
    bool enabled_ = true;
    int height_ = 0;
    QColor textColor_ = QColor(255, 255, 255);
    QColor hotTextColor_ = QColor(255, 255, 255);
    QColor selectedTextColor_ = QColor(255, 255, 255);
    QColor selectedHotTextColor_ = QColor(255, 255, 255);
    QMargins textPadding_;
    TreeNodePart checkBox_;
    TreeNodePart folder_;
    bool checked_ = false;
    bool expanded_ = true;
    int level_ = 0;
    int indent_ = 0;
    CTreeViewUI* tree_ = nullptr;
    CTreeNodeUI* parent_ = nullptr;
    std::vector<std::unique_ptr<CTreeNodeUI>> children_;
    CListElementUI* row_ = nullptr;
    std::unique_ptr<CListElementUI> pending_;  // the row while a batch is open
};

class CTreeViewUI : public CListUI {
public:
    static constexpr int kIndentStep = 16;
    static constexpr int kDefaultHeight = 24;

    explicit CTreeViewUI(QWidget* parent = nullptr);
    ~CTreeViewUI() override;
    std::string GetClass() const override { return "TreeView"; }

    // Adds the node under `parent` (nullptr: the top of the tree), after the parent's
    // last descendant. nullptr when `parent` is not a node of this tree.
    CTreeNodeUI* AddNode(std::unique_ptr<CTreeNodeUI> node, CTreeNodeUI* parent = nullptr);
    bool RemoveNode(CTreeNodeUI* node);
    void RemoveAll() override;
    std::size_t GetNodeCount() const { return live_.size(); }
    // The node of a row (or of a part of a row) of this tree.
    CTreeNodeUI* NodeOf(const CControlUI* rowOrPart) const;
    // The first node in row order with that name.
    CTreeNodeUI* FindNodeByName(const std::string& name) const;
    // Every node in row order (hidden ones included).
    void ForEachNode(const std::function<void(CTreeNodeUI&)>& visit) const;
    // The first node after `after` (nullptr: from the top) in row order that matches.
    CTreeNodeUI* FindNext(const std::function<bool(const CTreeNodeUI&)>& match, const CTreeNodeUI* after) const;

    // Checks or clears the node and every node below it.
    void SetItemCheckBox(bool checked, CTreeNodeUI* node);
    void SetItemExpand(bool expanded, CTreeNodeUI* node);

    // As CTreeList: rows of nodes added meanwhile join the list in one step.
    void BeginUpdate() { updating_ = true; }
    void EndUpdate();

protected:
    void OnCellButtonDown(CListElementUI& row, CListCellUI& cell) override;

private:
    friend class CTreeNodeUI;
    static bool Open(const CTreeNodeUI* node);
    void ShowBelow(CTreeNodeUI* node);
    int InsertionIndex(const CTreeNodeUI* parent) const;
    void Forget(CTreeNodeUI* node);
    void Renamed(CTreeNodeUI* node, const std::string& old);

    std::vector<std::unique_ptr<CTreeNodeUI>> top_;
    std::unordered_set<const CTreeNodeUI*> live_;
    std::unordered_multimap<std::string, CTreeNodeUI*> byName_;
    bool updating_ = false;
};

}  // namespace ui
