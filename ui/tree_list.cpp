#include "ui/tree_list.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <climits>
#include <cstdio>

#include "core/log_file.h"
#include "ui/toolkit/paint_manager.h"

namespace ui {

// Nodes -----------------------------------------------------------------------------

std::size_t TreeNode::ChildCount() const {
    std::lock_guard lock(childLock_);
    return children_.size();
}

TreeNode* TreeNode::ChildAt(std::size_t index) const {
    std::lock_guard lock(childLock_);
    return index < children_.size() ? children_[index].get() : nullptr;
}

std::vector<TreeNode*> TreeNode::Children() const {
    std::lock_guard lock(childLock_);
    std::vector<TreeNode*> children;
    children.reserve(children_.size());
    for (const auto& child : children_) children.push_back(child.get());
    return children;
}

TreeNode* TreeNode::LastChild() const {
    std::lock_guard lock(childLock_);
    return children_.empty() ? nullptr : children_.back().get();
}

namespace {

// Every node below `top` in display order (parents before their descendants).
template <class Visit>
void ForEachDescendant(const TreeNode* top, Visit&& visit) {
    std::vector<TreeNode*> stack;
    auto pushChildren = [&stack](const TreeNode* node) {
        std::vector<TreeNode*> children = node->Children();
        stack.insert(stack.end(), children.rbegin(), children.rend());
    };
    pushChildren(top);
    while (!stack.empty()) {
        TreeNode* node = stack.back();
        stack.pop_back();
        visit(node);
        pushChildren(node);
    }
}

void SetCellImage(CListElementUI* row, const char* cell, const char* image) {
    if (CListCellUI* part = row ? row->FindCell(cell) : nullptr) part->SetBkImage(image);
}

void SetCellText(CListElementUI* row, const char* cell, const std::string& text) {
    if (CListCellUI* part = row ? row->FindCell(cell) : nullptr) part->SetText(text);
}

bool IsTreeButton(const std::string& name) {
    static const char* const kButtons[] = {"sxt_start", "sxt_rec",    "sxt_alarm", "node_logo",
                                           "node_start", "node_close", "enable_btn"};
    for (const char* button : kButtons)
        if (name == button) return true;
    return false;
}

}  // namespace

// Tree ------------------------------------------------------------------------------

CTreeList::CTreeList(CPaintManagerUI* manager, QWidget* parent)
    : CListUI(parent), root_(std::make_unique<TreeNode>()) {
    SetButtonCellsTakeClicks(true);
    if (manager) Attach(manager);
}

CTreeList::~CTreeList() {
    StopScrollTimer();
    // Rows go before the nodes their tags point to.
    CListUI::RemoveAll();
}

TreeNode* CTreeList::NodeOf(const CControlUI* control) {
    if (!control) return nullptr;
    if (control->GetClass() != "ListContainerElement") control = control->GetParent();
    auto* row = dynamic_cast<const CListElementUI*>(control);
    auto* tree = row ? dynamic_cast<const CTreeList*>(row->GetOwner()) : nullptr;
    auto* node = row ? reinterpret_cast<TreeNode*>(row->GetTag()) : nullptr;
    // A row of a tree carries its node; any other tag is not a node.
    if (!node || !tree || !tree->live_.count(node)) return nullptr;
    return node;
}

TreeNode* CTreeList::AddNode(TreeNode* parent, const control::ITEMINFO& row) {
    if (!parent) parent = root_.get();
    if (parent != root_.get() && !live_.count(parent)) return nullptr;
    const bool camera = row.kind == control::ITEMINFO::kCamera;
    std::unique_ptr<CListElementUI> element = CreateElement(camera ? kCameraItemSkin : kNodeItemSkin);
    if (!element) return nullptr;
    element->SetName(row.id);

    auto node = std::make_unique<TreeNode>();
    node->level_ = parent->level_ + 1;
    node->expanded_ = row.expanded;
    node->camera_ = camera;
    node->active_ = row.active;
    node->name_ = row.name;
    node->id_ = row.id;
    node->expiryText_ = row.expiryDate;
    node->expired_ = row.expired;
    node->parent_ = parent;
    node->element_ = element.get();

    const bool hidden = !parent->expanded_ || (parent != root_.get() && !parent->element_->IsVisible());
    element->SetVisible(!hidden);
    // "tc" is the indent: the row's parts start after it.
    element->SetIndent(kIndentStep * (node->level_ + 1));
    if (camera) {
        element->SetFixedHeight(kCameraHeight);
        SetCellImage(element.get(), "sxt_logo", row.active ? kIconCameraActive : kIconCameraInactive);
        if (row.expired) SetCellImage(element.get(), "sxt_logo", kIconCameraExpired);
        SetCellText(element.get(), "sxt_text", row.name);
        SetCellText(element.get(), "expired", row.expiryDate);
        if (row.live) {
            SetCellImage(element.get(), "sxt_logo", kIconCameraLive);
            SetCellImage(element.get(), "sxt_start", kIconStop);
            node->live_ = true;
        }
    } else {
        element->SetFixedHeight(kNodeHeight);
        SetCellText(element.get(), "node_text", row.name);
        SetCellText(element.get(), "node_msg", row.countLabel);
    }
    element->SetTag(reinterpret_cast<std::intptr_t>(node.get()));
    TreeNode* added = node.get();
    if (!camera) SetNodeLogo(added);

    if (updating_) {
        added->pending_ = std::move(element);
    } else if (!CListUI::AddAt(std::move(element), InsertionIndex(parent))) {
        return nullptr;
    }
    {
        std::lock_guard lock(parent->childLock_);
        parent->children_.push_back(std::move(node));
    }
    live_.insert(added);
    byId_[row.id].push_back(added);
    return added;
}

bool CTreeList::RemoveNode(TreeNode* node) {
    if (!node || node == root_.get() || !live_.count(node)) return false;
    SetHovered(nullptr);
    // The listed rows of the node and its descendants lie together: removed in one step.
    const int first = node->element_->GetIndex();
    bool listed = true;
    if (first >= 0) {
        int count = 1;
        ForEachDescendant(node, [&count](TreeNode* below) { count += below->element_->GetIndex() >= 0; });
        listed = CListUI::RemoveRange(first, count);
    }
    std::unordered_set<const TreeNode*> removed;
    DetachNode(node, removed);
    if (nodesRemoved_) nodesRemoved_(removed);
    core::LogWrite(listed ? "%s:%d 删除成功!" : "%s:%d 删除失败!", __FILE__, __LINE__);
    Unlink(node);
    return true;
}

// Forgets the node and its descendants, children last to first.
void CTreeList::DetachNode(TreeNode* node, std::unordered_set<const TreeNode*>& removed) {
    std::vector<TreeNode*> children = node->Children();
    for (auto child = children.rbegin(); child != children.rend(); ++child) {
        DetachNode(*child, removed);
        core::LogWrite("%s:%d 删除成功!", __FILE__, __LINE__);
    }
    ForgetId(node);
    live_.erase(node);
    removed.insert(node);
}

void CTreeList::ForgetId(TreeNode* node) {
    auto it = byId_.find(node->id_);
    if (it == byId_.end()) return;
    std::erase(it->second, node);
    if (it->second.empty()) byId_.erase(it);
}

void CTreeList::Unlink(TreeNode* node) {
    TreeNode* parent = node->parent_;
    std::unique_ptr<TreeNode> owned;
    {
        std::lock_guard lock(parent->childLock_);
        for (auto it = parent->children_.begin(); it != parent->children_.end(); ++it) {
            if (it->get() != node) continue;
            owned = std::move(*it);
            parent->children_.erase(it);
            break;
        }
    }
    // `owned` destroys the node and its descendants outside the parent's lock.
}

void CTreeList::SetExpanded(TreeNode* node, bool expanded) {
    if (!node || node == root_.get() || !live_.count(node) || node->expanded_ == expanded) return;
    node->expanded_ = expanded;
    // The icon follows the state even while the node itself is hidden, so it is right
    // when an ancestor shows it again.
    if (!node->camera_) SetNodeLogo(node);
    if (!node->element_->IsVisible() || !HasChildren(node)) return;
    // Parents come before their descendants, so a collapsed sub-node keeps its own
    // children hidden.
    ForEachDescendant(node, [expanded](TreeNode* below) {
        const TreeNode* parent = below->parent_;
        below->element_->SetVisible(expanded && parent->expanded_ && parent->element_->IsVisible());
    });
}

bool CTreeList::HasChildren(const TreeNode* node) const {
    return node && node != root_.get() && node->ChildCount() > 0;
}

TreeNode* CTreeList::FindById(const std::string& id) const {
    auto it = byId_.find(id);
    if (it == byId_.end()) return nullptr;
    TreeNode* first = nullptr;
    int firstIndex = INT_MAX;
    for (TreeNode* node : it->second) {
        int index = node->element_->GetIndex();
        if (index < 0) index = INT_MAX - 1;  // not in the list yet (batch): after listed rows
        if (index < firstIndex) {
            first = node;
            firstIndex = index;
        }
    }
    return first;
}

int CTreeList::InsertionIndex(const TreeNode* node) const {
    if (!node) return 0;
    const TreeNode* last = node;
    while (const TreeNode* child = last->LastChild()) last = child;
    if (last == root_.get()) return 0;
    return last->element_->GetIndex() + 1;
}

void CTreeList::SetLiveIcons(CListElementUI* element, bool live) {
    SetCellImage(element, "sxt_logo", live ? kIconCameraLive : kIconCameraActive);
    SetCellImage(element, "sxt_start", live ? kIconStop : kIconPlay);
    if (TreeNode* node = NodeOf(element)) node->live_ = live;
}

void CTreeList::SetExpiryText(CListElementUI* element, const std::string& text) {
    SetCellText(element, "expired", text);
}

void CTreeList::SetExpired(TreeNode* node, bool expired) {
    if (node && node != root_.get()) node->expired_ = expired;
}

void CTreeList::ShowHoverButton(TreeNode* node) {
    if (!node || !node->active_ || !node->element_) return;
    if (CListCellUI* button = node->element_->FindCell("enable_btn")) button->SetVisible(true);
}

void CTreeList::HideHoverButton(TreeNode* node) {
    if (!node || !node->active_ || !node->element_) return;
    if (CListCellUI* button = node->element_->FindCell("enable_btn")) button->SetVisible(false);
}

bool CTreeList::BringIntoView(TreeNode* node) {
    if (!node || node == root_.get() || !live_.count(node)) return false;
    // From the top down, so that each expanded ancestor is already shown.
    std::vector<TreeNode*> ancestors;
    for (TreeNode* up = node->parent_; up && up != root_.get(); up = up->parent_) ancestors.push_back(up);
    for (auto up = ancestors.rbegin(); up != ancestors.rend(); ++up)
        if (!(*up)->expanded_ && HasChildren(*up)) SetExpanded(*up, true);
    return SelectItem(node->element_->GetIndex());
}

CTreeList::ViewState CTreeList::SaveViewState() const {
    ViewState state;
    ForEachDescendant(root_.get(), [&state](TreeNode* node) {
        if (!node->camera_ && node->expanded_ && node->ChildCount() > 0) state.expanded.push_back(node->id_);
    });
    if (const CListElementUI* chosen = GetItemAt(GetCurSel())) state.selected = chosen->GetName();
    const QModelIndex top = indexAt(QPoint(1, 0));
    if (const CListElementUI* row = top.isValid() ? GetItemAt(top.row()) : nullptr) {
        state.top = row->GetName();
        state.topOffset = -visualRect(top).top();
    }
    return state;
}

void CTreeList::RestoreViewState(const ViewState& state) {
    for (const std::string& id : state.expanded) SetExpanded(FindById(id), true);
    if (TreeNode* chosen = FindById(state.selected); chosen && chosen->element_->IsVisible()) {
        // Selecting scrolls; the scroll place is put back below.
        CListUI::SelectItem(chosen->element_->GetIndex());
    }
    TreeNode* top = FindById(state.top);
    if (!top || !top->element_->IsVisible()) return;
    executeDelayedItemsLayout();
    const QModelIndex at = model()->index(top->element_->GetIndex(), 0);
    scrollTo(at, QAbstractItemView::PositionAtTop);
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->value() + state.topOffset);
}

QString CTreeList::RowToolTip(const CListElementUI& row) const {
    const TreeNode* node = NodeOf(&row);
    if (!node) return {};
    const QString name = QString::fromStdString(node->name_);
    const QString id = QString::fromStdString(node->id_);
    if (!node->camera_) {
        QString text = QStringLiteral("区域：%1\n编号：%2").arg(name, id);
        int online = 0, cameras = 0;
        const std::string count = CellText(row, TemplateCellIndex(row, "node_msg"));
        if (std::sscanf(count.c_str(), "[%d/%d]", &online, &cameras) == 2)
            text += QStringLiteral("\n摄像头：在线 %1 / 共 %2").arg(online).arg(cameras);
        return text;
    }
    QString state = node->expired_ ? QStringLiteral("已欠费") : node->active_ ? QStringLiteral("在线") : QStringLiteral("离线");
    if (node->live_) state += QStringLiteral("，正在预览");
    QString text = QStringLiteral("名称：%1\n编号：%2\n状态：%3").arg(name, id, state);
    const std::string expiry = CellText(row, TemplateCellIndex(row, "expired"));
    if (!expiry.empty()) text += QStringLiteral("\n到期：%1").arg(QString::fromStdString(expiry));
    return text;
}

namespace {

// Gap kept between the parts of a row.
constexpr int kPartGap = 4;

// The name cell `name` and the detail cell `detail` (expiry date or count) share the
// room between the name's left edge and `rightEdge`: the name takes what it needs, the
// detail stands right-aligned in what is left, shortened, and is left out when even a
// short form does not fit; only then is the name cut.
void ShareRoom(std::vector<QRect>& places, int name, int detail, int rightEdge, const QString& nameText,
               const QString& detailText, const QFontMetrics& metrics) {
    QRect& nameRect = places[static_cast<std::size_t>(name)];
    const int left = nameRect.left();
    if (rightEdge <= left) return;
    const int room = rightEdge - left;
    QRect* detailRect = detail >= 0 ? &places[static_cast<std::size_t>(detail)] : nullptr;
    const int nameNeed = metrics.horizontalAdvance(nameText) + 1;
    const int detailNeed = detailText.isEmpty() ? 0 : metrics.horizontalAdvance(detailText) + 1;
    const int detailLeast = metrics.horizontalAdvance(QStringLiteral("00…")) + 1;
    auto placeDetail = [&](int from) {
        if (!detailRect) return;
        if (from >= rightEdge) {
            *detailRect = QRect();
            return;
        }
        const int top = detailRect->isNull() ? nameRect.top() : detailRect->top();
        const int height = detailRect->isNull() ? nameRect.height() : detailRect->height();
        *detailRect = QRect(from, top, rightEdge - from, height);
    };
    if (!detailRect || detailNeed == 0) {
        nameRect.setRight(rightEdge - 1);
        placeDetail(rightEdge);
    } else if (nameNeed + kPartGap + detailNeed <= room) {
        nameRect.setRight(rightEdge - detailNeed - kPartGap - 1);
        placeDetail(rightEdge - detailNeed);
    } else if (nameNeed + kPartGap + detailLeast <= room) {
        nameRect.setRight(left + nameNeed - 1);
        placeDetail(left + nameNeed + kPartGap);
    } else {
        nameRect.setRight(rightEdge - 1);
        placeDetail(rightEdge);
    }
}

}  // namespace

void CTreeList::ArrangeCells(const CListElementUI& row, CellLayout& places) const {
    const TreeNode* node = NodeOf(&row);
    if (!node) return;
    auto index = [&row](const char* name) { return TemplateCellIndex(row, name); };
    const int name = index(node->camera_ ? "sxt_text" : "node_text");
    const int detail = index(node->camera_ ? "expired" : "node_msg");
    const int firstButton = index(node->camera_ ? "sxt_start" : "node_start");
    if (name < 0 || firstButton < 0 || places[static_cast<std::size_t>(firstButton)].isNull()) return;
    int rightEdge = places[static_cast<std::size_t>(firstButton)].left() - kPartGap;
    const int hover = node->camera_ ? index("enable_btn") : -1;
    bool hoverShown = hover >= 0 && CellVisible(row, hover);
    if (hoverShown) {
        // The hover button stands where the date was, just before the row's buttons.
        QRect& pill = places[static_cast<std::size_t>(hover)];
        pill.moveRight(rightEdge - 1);
        rightEdge = pill.left() - kPartGap;
        if (pill.left() <= places[static_cast<std::size_t>(name)].left()) {
            pill = QRect();  // no room for it beside the name
            rightEdge = places[static_cast<std::size_t>(firstButton)].left() - kPartGap;
            hoverShown = false;
        }
    }
    const QString nameText = QString::fromStdString(CellText(row, name));
    const QString detailText = hoverShown || detail < 0 ? QString() : QString::fromStdString(CellText(row, detail));
    ShareRoom(places, name, detail, rightEdge, nameText, detailText, viewport()->fontMetrics());
}

void CTreeList::SetNodeLogo(TreeNode* node) {
    const char* image = node->expanded_ ? (node->active_ ? kIconExpandedActive : kIconExpandedInactive)
                                        : (node->active_ ? kIconCollapsedActive : kIconCollapsedInactive);
    SetCellImage(node->element_, "node_logo", image);
}

void CTreeList::BeginUpdate() { updating_ = true; }

void CTreeList::EndUpdate() {
    if (!updating_) return;
    updating_ = false;
    if (GetCount() == 0) {
        std::vector<std::unique_ptr<CListElementUI>> rows;
        rows.reserve(live_.size());
        ForEachDescendant(root_.get(), [&rows](TreeNode* node) {
            if (node->pending_) rows.push_back(std::move(node->pending_));
        });
        AddRange(std::move(rows));
        return;
    }
    // Rows already listed stay; new ones go in after their predecessor in display order.
    int next = 0;
    ForEachDescendant(root_.get(), [this, &next](TreeNode* node) {
        if (node->pending_) {
            if (!CListUI::AddAt(std::move(node->pending_), next))
                core::LogWrite("tree row not listed: %s", node->id_.c_str());
        }
        next = node->element_->GetIndex() + 1;
    });
}

bool CTreeList::Remove(CListElementUI* row) {
    if (TreeNode* node = NodeOf(row)) return RemoveNode(node);
    return CListUI::Remove(row);
}

bool CTreeList::RemoveAt(int index) {
    CListElementUI* row = GetItemAt(index);
    if (!row) return false;
    if (TreeNode* node = NodeOf(row)) return RemoveNode(node);
    return CListUI::RemoveAt(index);
}

void CTreeList::RemoveAll() {
    SetHovered(nullptr);
    updating_ = false;
    if (nodesRemoved_ && !live_.empty()) nodesRemoved_(live_);
    CListUI::RemoveAll();
    byId_.clear();
    live_.clear();
    root_ = std::make_unique<TreeNode>();
}

bool CTreeList::SelectItem(int index) {
    if (index == GetCurSel()) return true;
    return CListUI::SelectItem(index);
}

void CTreeList::SetMouseEnabled(bool enabled) {
    setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
    viewport()->setAttribute(Qt::WA_TransparentForMouseEvents, !enabled);
}

// Input ----------------------------------------------------------------------------

void CTreeList::NotifyFrom(CControlUI* sender, const char* type) {
    if (GetManager()) GetManager()->SendNotify(sender, type);
}

void CTreeList::OnCellButtonDown(CListElementUI& row, CListCellUI& cell) {
    if (IsTreeButton(cell.GetName()) && NodeOf(&row)) {
        NotifyFrom(&row, cell.GetName().c_str());
        return;
    }
    CListUI::OnCellButtonDown(row, cell);
}

void CTreeList::SetHovered(CListElementUI* row) {
    if (row == hovered_) return;
    CListElementUI* left = hovered_;
    hovered_ = row;
    if (left) NotifyFrom(left, "item_leave");
    if (row && hovered_ == row) NotifyFrom(row, "item_in");
}

void CTreeList::mouseMoveEvent(QMouseEvent* event) {
    CListUI::mouseMoveEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    SetHovered(index.isValid() ? GetItemAt(index.row()) : nullptr);
}

void CTreeList::leaveEvent(QEvent* event) {
    CListUI::leaveEvent(event);
    SetHovered(nullptr);
}

void CTreeList::contextMenuEvent(QContextMenuEvent* event) {
    if (!contextMenu_) {
        CListUI::contextMenuEvent(event);
        return;
    }
    event->accept();
    NotifyFrom(this, "node_menu");
}

void CTreeList::wheelEvent(QWheelEvent* event) {
    // A notch is 120; finer wheels add up to whole notches.
    wheelRest_ += event->angleDelta().y();
    event->accept();
    bool notched = false;
    while (wheelRest_ >= 120 || wheelRest_ <= -120) {
        const bool up = wheelRest_ > 0;
        wheelRest_ += up ? -120 : 120;
        wheel_.Notch(up);
        notched = true;
    }
    if (notched) StartScrollTimer();
}

void CTreeList::ScrollTick() {
    QScrollBar* bar = verticalScrollBar();
    const std::optional<int> step = wheel_.Tick(bar->value() <= bar->minimum(), bar->value() >= bar->maximum());
    if (!step) {
        StopScrollTimer();
        return;
    }
    bar->setValue(bar->value() - *step);
}

bool CTreeList::OnTimer(std::uintptr_t id) {
    if (id != kScrollTimer) return false;
    ScrollTick();
    return true;
}

void CTreeList::StartScrollTimer() {
    if (GetManager() && GetManager()->SetTimer(this, kScrollTimer, SmoothWheel::kTickMs)) return;
    if (!ownTimer_) {
        ownTimer_ = new QTimer(this);
        connect(ownTimer_, &QTimer::timeout, this, [this] { ScrollTick(); });
    }
    ownTimer_->start(static_cast<int>(SmoothWheel::kTickMs));
}

void CTreeList::StopScrollTimer() {
    if (GetManager()) GetManager()->KillTimer(this, kScrollTimer);
    if (ownTimer_) ownTimer_->stop();
}

}  // namespace ui
