#include "ui/toolkit/tree_view.h"

#include <charconv>
#include <climits>

#include "ui/toolkit/paint_manager.h"

namespace ui {
namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::optional<int> ParseCount(std::string_view text, int max) {
    text = TrimBlanks(text);
    int value = 0;
    auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || next != text.data() + text.size() || value < 0 || value > max) return std::nullopt;
    return value;
}

// "l,t,r,b" of non-negative numbers.
std::optional<QMargins> ParsePadding(std::string_view text) {
    int v[4];
    for (int i = 0; i < 4; ++i) {
        std::size_t comma = i < 3 ? text.find(',') : text.size();
        if (comma == std::string_view::npos) return std::nullopt;
        std::optional<int> value = ParseCount(text.substr(0, comma), 10000);
        if (!value) return std::nullopt;
        v[i] = *value;
        text.remove_prefix(i < 3 ? comma + 1 : comma);
    }
    return QMargins(v[0], v[1], v[2], v[3]);
}

std::optional<bool> ParseBool(std::string_view text) {
    text = TrimBlanks(text);
    if (text == "true") return true;
    if (text == "false") return false;
    return std::nullopt;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseSubAttributes(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (;;) {
        text = TrimBlanks(text);
        const std::size_t eq = text.find('=');
        if (text.empty() || eq == std::string_view::npos) break;
        const std::string_view name = TrimBlanks(text.substr(0, eq));
        text = TrimBlanks(text.substr(eq + 1));
        if (name.empty() || text.empty() || (text.front() != '"' && text.front() != '\'')) break;
        const char quote = text.front();
        const std::size_t close = text.find(quote, 1);
        if (close == std::string_view::npos) break;
        pairs.emplace_back(std::string(name), std::string(text.substr(1, close - 1)));
        text.remove_prefix(close + 1);
    }
    return pairs;
}

std::optional<QColor> ParseColorText(std::string_view text) {
    text = TrimBlanks(text);
    if (text.size() != 7 && text.size() != 9) return std::nullopt;
    if (text.front() != '#') return std::nullopt;
    unsigned value = 0;
    auto [next, error] = std::from_chars(text.data() + 1, text.data() + text.size(), value, 16);
    if (error != std::errc() || next != text.data() + text.size()) return std::nullopt;
    if (text.size() == 7) value |= 0xFF000000u;
    return QColor::fromRgba(value);
}

// Nodes ------------------------------------------------------------------------------

CTreeNodeUI::CTreeNodeUI() { folder_.visible = true; }
CTreeNodeUI::~CTreeNodeUI() = default;

CControlUI* CTreeNodeUI::GetParent() const { return tree_; }

void CTreeNodeUI::SetName(std::string name) {
    if (name == name_) return;
    std::string old = std::move(name_);
    name_ = std::move(name);
    if (row_) row_->SetName(name_);
    if (tree_) tree_->Renamed(this, old);
}

void CTreeNodeUI::SetItemText(const std::string& text) {
    itemText_ = text;
    Refresh();
}

void CTreeNodeUI::SetVisible(bool visible) {
    visible_ = visible;
    if (row_) row_->SetVisible(visible_ && CTreeViewUI::Open(this));
}

void CTreeNodeUI::SetFixedHeight(int pixels) {
    height_ = std::clamp(pixels, 0, 10000);
    Refresh();
}

CTreeNodeUI* CTreeNodeUI::GetChildNode(int index) const {
    return index >= 0 && index < GetCountChild() ? children_[index].get() : nullptr;
}

void CTreeNodeUI::SetChkBoxCheck(bool checked) {
    if (checked_ == checked) return;
    checked_ = checked;
    Refresh();
}

void CTreeNodeUI::SetVisibleCheckBtn(bool visible) {
    checkBox_.visible = visible;
    Refresh();
}

void CTreeNodeUI::SetVisibleFolderBtn(bool visible) {
    folder_.visible = visible;
    Refresh();
}

void CTreeNodeUI::ApplyPart(TreeNodePart& part, const std::string& value) {
    for (const auto& [key, text] : ParseSubAttributes(value)) {
        if (key == "visible") {
            if (auto on = ParseBool(text)) part.visible = *on;
        } else if (key == "padding") {
            if (auto padding = ParsePadding(text)) part.padding = *padding;
        } else if (key == "width") {
            if (auto width = ParseCount(text, 10000)) part.width = *width;
        } else if (key == "height") {
            if (auto height = ParseCount(text, 10000)) part.height = *height;
        } else if (key == "normalimage") {
            part.normalImage = text;
        } else if (key == "hotimage") {
            part.hotImage = text;
        } else if (key == "selectedimage") {
            part.selectedImage = text;
        } else if (key == "selectedhotimage") {
            part.selectedHotImage = text;
        }
    }
}

void CTreeNodeUI::SetAttribute(const std::string& name, const std::string& value) {
    if (name == "visible") {
        if (auto on = ParseBool(value)) SetVisible(*on);
    } else if (name == "height") {
        if (auto height = ParseCount(value, 10000)) height_ = *height;
    } else if (name == "itemtextcolor") {
        if (auto color = ParseColorText(value)) textColor_ = *color;
    } else if (name == "itemhottextcolor") {
        if (auto color = ParseColorText(value)) hotTextColor_ = *color;
    } else if (name == "selitemtextcolor") {
        if (auto color = ParseColorText(value)) selectedTextColor_ = *color;
    } else if (name == "selitemhottextcolor") {
        if (auto color = ParseColorText(value)) selectedHotTextColor_ = *color;
    } else if (name == "itemattr") {
        for (const auto& [key, text] : ParseSubAttributes(value))
            if (key == "padding")
                if (auto padding = ParsePadding(text)) textPadding_ = *padding;
    } else if (name == "checkboxattr") {
        ApplyPart(checkBox_, value);
    } else if (name == "folderattr") {
        ApplyPart(folder_, value);
    } else if (name == "text") {
        itemText_ = value;
    } else if (name == "name") {
        SetName(value);
    } else if (name == "userdata") {
        SetUserData(value);
    }
    Refresh();
}

void CTreeNodeUI::Refresh() {
    if (!row_) return;
    const int height = height_ > 0 ? height_ : CTreeViewUI::kDefaultHeight;
    int x = indent_;
    auto place = [&](const char* name, const TreeNodePart& part, const std::string& image) {
        CListCellUI* cell = row_->AddCell(name, CListCellUI::Kind::kButton);
        cell->SetVisible(part.visible);
        if (!part.visible) return;
        const int width = part.width > 0 ? part.width : 16;
        x += part.padding.left();
        cell->SetPlace(QRect(x, part.padding.top(), width, part.height > 0 ? part.height : 16));
        cell->SetBkImage(image);
        x += width + part.padding.right();
    };
    place("folder", folder_, expanded_ ? folder_.normalImage : folder_.selectedImage);
    place("checkbox", checkBox_, checked_ ? checkBox_.selectedImage : checkBox_.normalImage);
    CListCellUI* text = row_->AddCell("text", CListCellUI::Kind::kLabel);
    x += textPadding_.left();
    // As wide as the row allows: the list cuts it at the row's right edge.
    text->SetPlace(QRect(x, textPadding_.top(), 100000,
                         std::max(1, height - textPadding_.top() - textPadding_.bottom())));
    text->SetText(itemText_);
    text->SetTextColor(textColor_);
    row_->SetFixedHeight(height);
}

// Tree -------------------------------------------------------------------------------

CTreeViewUI::CTreeViewUI(QWidget* parent) : CListUI(parent) { SetButtonCellsTakeClicks(true); }

CTreeViewUI::~CTreeViewUI() {
    // Rows go before the nodes their tags point to.
    CListUI::RemoveAll();
}

bool CTreeViewUI::Open(const CTreeNodeUI* node) {
    for (const CTreeNodeUI* up = node->parent_; up; up = up->parent_)
        if (!up->expanded_) return false;
    return true;
}

CTreeNodeUI* CTreeViewUI::AddNode(std::unique_ptr<CTreeNodeUI> node, CTreeNodeUI* parent) {
    if (!node || node->tree_ || !node->children_.empty()) return nullptr;
    if (parent && !live_.count(parent)) return nullptr;
    CTreeNodeUI* added = node.get();
    added->tree_ = this;
    added->parent_ = parent;
    added->level_ = parent ? parent->level_ + 1 : 0;
    int shownAncestors = 0;
    for (const CTreeNodeUI* up = parent; up; up = up->parent_) shownAncestors += up->visible_;
    added->indent_ = kIndentStep * shownAncestors;

    std::unique_ptr<CListElementUI> row = CreateElement();
    row->SetName(added->name_);
    row->SetTag(reinterpret_cast<std::intptr_t>(added));
    row->SetVisible(added->visible_ && Open(added));
    added->row_ = row.get();
    added->Refresh();
    if (updating_) {
        added->pending_ = std::move(row);
    } else if (!CListUI::AddAt(std::move(row), InsertionIndex(parent))) {
        added->tree_ = nullptr;
        added->row_ = nullptr;
        return nullptr;
    }
    (parent ? parent->children_ : top_).push_back(std::move(node));
    live_.insert(added);
    byName_.emplace(added->name_, added);
    return added;
}

int CTreeViewUI::InsertionIndex(const CTreeNodeUI* parent) const {
    const CTreeNodeUI* last = parent;
    const auto* children = parent ? &parent->children_ : &top_;
    while (!children->empty()) {
        last = children->back().get();
        children = &last->children_;
    }
    return last ? last->row_->GetIndex() + 1 : 0;
}

bool CTreeViewUI::RemoveNode(CTreeNodeUI* node) {
    if (!node || !live_.count(node)) return false;
    const int first = node->row_->GetIndex();
    bool removed = true;
    if (first >= 0) {
        int count = 0;
        std::function<void(const CTreeNodeUI*)> countListed = [&](const CTreeNodeUI* n) {
            count += n->row_->GetIndex() >= 0;
            for (const auto& child : n->children_) countListed(child.get());
        };
        countListed(node);
        removed = CListUI::RemoveRange(first, count);
    }
    Forget(node);
    auto& siblings = node->parent_ ? node->parent_->children_ : top_;
    std::erase_if(siblings, [node](const std::unique_ptr<CTreeNodeUI>& sibling) { return sibling.get() == node; });
    return removed;
}

void CTreeViewUI::Forget(CTreeNodeUI* node) {
    for (const auto& child : node->children_) Forget(child.get());
    live_.erase(node);
    auto [from, to] = byName_.equal_range(node->name_);
    for (auto it = from; it != to; ++it)
        if (it->second == node) {
            byName_.erase(it);
            break;
        }
}

void CTreeViewUI::Renamed(CTreeNodeUI* node, const std::string& old) {
    if (!live_.count(node)) return;
    auto [from, to] = byName_.equal_range(old);
    for (auto it = from; it != to; ++it)
        if (it->second == node) {
            byName_.erase(it);
            break;
        }
    byName_.emplace(node->name_, node);
}

void CTreeViewUI::RemoveAll() {
    updating_ = false;
    CListUI::RemoveAll();
    live_.clear();
    byName_.clear();
    top_.clear();
}

CTreeNodeUI* CTreeViewUI::NodeOf(const CControlUI* control) const {
    if (!control) return nullptr;
    if (auto* node = dynamic_cast<const CTreeNodeUI*>(control))
        return live_.count(node) ? const_cast<CTreeNodeUI*>(node) : nullptr;
    if (control->GetClass() != "ListContainerElement") control = control->GetParent();
    auto* row = dynamic_cast<const CListElementUI*>(control);
    if (!row || row->GetOwner() != this) return nullptr;
    auto* node = reinterpret_cast<CTreeNodeUI*>(row->GetTag());
    return live_.count(node) ? node : nullptr;
}

CTreeNodeUI* CTreeViewUI::FindNodeByName(const std::string& name) const {
    auto [from, to] = byName_.equal_range(name);
    CTreeNodeUI* first = nullptr;
    int firstIndex = INT_MAX;
    for (auto it = from; it != to; ++it) {
        int index = it->second->row_->GetIndex();
        if (index < 0) index = INT_MAX - 1;
        if (!first || index < firstIndex) {
            first = it->second;
            firstIndex = index;
        }
    }
    return first;
}

void CTreeViewUI::ForEachNode(const std::function<void(CTreeNodeUI&)>& visit) const {
    std::function<void(const std::vector<std::unique_ptr<CTreeNodeUI>>&)> walk =
        [&](const std::vector<std::unique_ptr<CTreeNodeUI>>& nodes) {
            for (const auto& node : nodes) {
                visit(*node);
                walk(node->children_);
            }
        };
    walk(top_);
}

CTreeNodeUI* CTreeViewUI::FindNext(const std::function<bool(const CTreeNodeUI&)>& match,
                                   const CTreeNodeUI* after) const {
    bool passed = !after || !live_.count(after);
    CTreeNodeUI* found = nullptr;
    ForEachNode([&](CTreeNodeUI& node) {
        if (found) return;
        if (!passed) {
            passed = &node == after;
            return;
        }
        if (match(node)) found = &node;
    });
    return found;
}

void CTreeViewUI::SetItemCheckBox(bool checked, CTreeNodeUI* node) {
    if (!node || !live_.count(node)) return;
    std::function<void(CTreeNodeUI*)> mark = [&](CTreeNodeUI* n) {
        n->SetChkBoxCheck(checked);
        for (const auto& child : n->children_) mark(child.get());
    };
    mark(node);
}

void CTreeViewUI::SetItemExpand(bool expanded, CTreeNodeUI* node) {
    if (!node || !live_.count(node) || node->expanded_ == expanded) return;
    node->expanded_ = expanded;
    node->Refresh();
    ShowBelow(node);
}

void CTreeViewUI::ShowBelow(CTreeNodeUI* node) {
    std::function<void(CTreeNodeUI*, bool)> walk = [&](CTreeNodeUI* n, bool open) {
        for (const auto& child : n->children_) {
            child->row_->SetVisible(child->visible_ && open);
            walk(child.get(), open && child->expanded_);
        }
    };
    walk(node, Open(node) && node->expanded_);
}

void CTreeViewUI::EndUpdate() {
    if (!updating_) return;
    updating_ = false;
    if (GetCount() == 0) {
        std::vector<std::unique_ptr<CListElementUI>> rows;
        rows.reserve(live_.size());
        ForEachNode([&rows](CTreeNodeUI& node) {
            if (node.pending_) rows.push_back(std::move(node.pending_));
        });
        AddRange(std::move(rows));
        return;
    }
    int next = 0;
    ForEachNode([this, &next](CTreeNodeUI& node) {
        if (node.pending_) CListUI::AddAt(std::move(node.pending_), next);
        next = node.row_->GetIndex() + 1;
    });
}

void CTreeViewUI::OnCellButtonDown(CListElementUI& row, CListCellUI& cell) {
    CTreeNodeUI* node = NodeOf(&row);
    if (!node) return;
    if (cell.GetName() == "folder") {
        SetItemExpand(!node->expanded_, node);
    } else if (cell.GetName() == "checkbox") {
        SetItemCheckBox(!node->checked_, node);
        if (GetManager()) GetManager()->SendNotify(node, notify::kSelectChanged);
    }
}

}  // namespace ui
