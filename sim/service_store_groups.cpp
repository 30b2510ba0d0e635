// Camera groups (the service calls them virtual nodes), the account's areas (real
// nodes) and the holder's changes to its cameras. Groups are nodes of the camera tree
// (CameraTree): an area added to a group moves under it, and back when the group goes.
#include <algorithm>
#include <set>

#include "sim/service_store.h"

namespace sim {
namespace {

constexpr std::size_t kMaxGroupName = 32;
constexpr std::size_t kMaxCameraName = 32;
constexpr int kMaxGroupDepth = 16;

bool UsableName(const std::string& name, std::size_t maxLength) {
    const bool blank = std::all_of(name.begin(), name.end(), [](char c) { return c == ' ' || c == '\t'; });
    return !blank && TextLength(name) <= maxLength &&
           std::none_of(name.begin(), name.end(), [](char c) { return c == ';' || static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

std::optional<std::int64_t> ServiceStore::AddGroup(const Account& viewer, const std::string& name,
                                                   std::int64_t parentId) {
    if (viewer.parentId != 0 || !UsableName(name, kMaxGroupName) || parentId < 0) return std::nullopt;
    std::lock_guard<std::mutex> guard(lock_);
    if (parentId != 0) {
        auto parent = db_.Prepare("SELECT 1 FROM virtual_nodes WHERE id = ? AND owner_id = ?");
        parent.Bind(1, parentId).Bind(2, viewer.id);
        if (!parent.Step()) return std::nullopt;
    }
    auto insert = db_.Prepare(
        "INSERT INTO virtual_nodes(id, owner_id, parent_id, name) "
        "SELECT MAX(?1, COALESCE(MAX(id), 0) + 1), ?2, ?3, ?4 FROM virtual_nodes");
    insert.Bind(1, kFirstGroupId).Bind(2, viewer.id).Bind(3, parentId).Bind(4, name);
    if (!insert.Run()) return std::nullopt;
    return db_.LastInsertId();
}

bool ServiceStore::EditGroup(const Account& viewer, std::int64_t groupId, const std::string& name,
                             std::optional<std::int64_t> parentId) {
    if (viewer.parentId != 0 || !UsableName(name, kMaxGroupName)) return false;
    std::lock_guard<std::mutex> guard(lock_);
    std::map<std::int64_t, std::int64_t> parentOf;
    auto read = db_.Prepare("SELECT id, parent_id FROM virtual_nodes WHERE owner_id = ?");
    read.Bind(1, viewer.id);
    while (read.Step()) parentOf[read.Int(0)] = read.Int(1);
    if (!parentOf.count(groupId)) return false;
    if (parentId && *parentId != 0) {
        // The new parent must be one of the holder's groups and not inside this one.
        if (!parentOf.count(*parentId)) return false;
        std::int64_t up = *parentId;
        for (std::size_t steps = 0; up != 0 && steps <= parentOf.size(); ++steps) {
            if (up == groupId) return false;
            auto it = parentOf.find(up);
            up = it == parentOf.end() ? 0 : it->second;
        }
    }
    auto update = db_.Prepare("UPDATE virtual_nodes SET name = ?, parent_id = ? WHERE id = ?");
    update.Bind(1, name).Bind(2, parentId.value_or(parentOf[groupId])).Bind(3, groupId);
    return update.Run();
}

bool ServiceStore::DeleteGroup(const Account& viewer, std::int64_t groupId) {
    if (viewer.parentId != 0) return false;
    std::lock_guard<std::mutex> guard(lock_);
    std::map<std::int64_t, std::vector<std::int64_t>> children;
    std::set<std::int64_t> own;
    auto read = db_.Prepare("SELECT id, parent_id FROM virtual_nodes WHERE owner_id = ?");
    read.Bind(1, viewer.id);
    while (read.Step()) {
        own.insert(read.Int(0));
        children[read.Int(1)].push_back(read.Int(0));
    }
    if (!own.count(groupId)) return false;
    std::set<std::int64_t> doomed;
    std::vector<std::int64_t> pending{groupId};
    while (!pending.empty()) {
        const std::int64_t g = pending.back();
        pending.pop_back();
        if (!doomed.insert(g).second) continue;
        for (std::int64_t child : children[g]) pending.push_back(child);
    }
    SqliteTransaction transaction(db_);
    auto dropMembers = db_.Prepare("DELETE FROM virtual_node_members WHERE virtual_node_id = ?");
    auto dropGroup = db_.Prepare("DELETE FROM virtual_nodes WHERE id = ?");
    for (std::int64_t g : doomed)
        if (!dropMembers.Bind(1, g).Run() || !dropGroup.Bind(1, g).Run()) return false;
    return transaction.Commit();
}

bool ServiceStore::AddAreasToGroup(const Account& viewer, std::int64_t groupId, const std::vector<std::int64_t>& nodeIds) {
    if (viewer.parentId != 0) return false;
    std::lock_guard<std::mutex> guard(lock_);
    auto group = db_.Prepare("SELECT 1 FROM virtual_nodes WHERE id = ? AND owner_id = ?");
    group.Bind(1, groupId).Bind(2, viewer.id);
    if (!group.Step()) return false;
    SqliteTransaction transaction(db_);
    auto owned = db_.Prepare("SELECT 1 FROM nodes WHERE id = ? AND owner_id = ?");
    auto insert = db_.Prepare(
        "INSERT INTO virtual_node_members(virtual_node_id, node_id, camera_id) SELECT ?1, ?2, 0 "
        "WHERE NOT EXISTS(SELECT 1 FROM virtual_node_members WHERE virtual_node_id = ?1 AND node_id = ?2)");
    for (std::int64_t node : nodeIds) {
        owned.Bind(1, node).Bind(2, viewer.id);
        const bool mine = owned.Step();
        owned.Reset();
        if (!mine || !insert.Bind(1, groupId).Bind(2, node).Run()) return false;
    }
    return transaction.Commit();
}

std::vector<ServiceStore::Area> ServiceStore::Areas(const Account& viewer) {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<Area> areas;
    std::map<std::int64_t, std::int64_t> parentOf;
    std::map<std::int64_t, std::size_t> index;
    auto read = db_.Prepare("SELECT id, parent_id, name FROM nodes WHERE owner_id = ? ORDER BY sort, id");
    read.Bind(1, viewer.HolderId());
    while (read.Step()) {
        index[read.Int(0)] = areas.size();
        parentOf[read.Int(0)] = read.Int(1);
        areas.push_back({read.Int(0), read.Text(2), false});
    }
    const auto visible = VisibleCameraSet(viewer);
    auto online = db_.Prepare("SELECT id, node_id FROM cameras WHERE owner_id = ? AND online = 1");
    online.Bind(1, viewer.HolderId());
    while (online.Step()) {
        if (viewer.parentId != 0 && !visible.count(online.Int(0))) continue;
        std::int64_t n = online.Int(1);
        for (std::size_t steps = 0; index.count(n) && steps <= index.size(); ++steps) {
            areas[index[n]].active = true;
            n = parentOf[n];
        }
    }
    return areas;
}

int ServiceStore::DeleteArea(const Account& viewer, std::int64_t nodeId) {
    if (viewer.parentId != 0) return -1;
    std::lock_guard<std::mutex> guard(lock_);
    auto owned = db_.Prepare("SELECT 1 FROM nodes WHERE id = ? AND owner_id = ?");
    owned.Bind(1, nodeId).Bind(2, viewer.id);
    if (!owned.Step()) return -1;
    auto children = db_.Prepare("SELECT 1 FROM nodes WHERE parent_id = ? LIMIT 1");
    children.Bind(1, nodeId);
    if (children.Step()) return -1;  // areas below it would lose their place
    SqliteTransaction transaction(db_);
    const std::string id = std::to_string(nodeId);
    const bool ok =
        db_.Execute("DELETE FROM account_cameras WHERE camera_id IN (SELECT id FROM cameras WHERE node_id = " + id + ")") &&
        db_.Execute("DELETE FROM virtual_node_members WHERE camera_id IN (SELECT id FROM cameras WHERE node_id = " + id +
                    ")") &&
        db_.Execute("DELETE FROM cameras WHERE node_id = " + id) &&
        db_.Execute("DELETE FROM account_nodes WHERE node_id = " + id) &&
        db_.Execute("DELETE FROM virtual_node_members WHERE node_id = " + id) &&
        db_.Execute("DELETE FROM nodes WHERE id = " + id);
    return ok && transaction.Commit() ? 1 : -1;
}

int ServiceStore::DeleteCamera(const Account& viewer, std::int64_t cameraId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto owner = db_.Prepare("SELECT owner_id FROM cameras WHERE id = ?");
    owner.Bind(1, cameraId);
    if (!owner.Step()) return -1;
    if (owner.Int(0) != viewer.id) return -2;  // sub-accounts own none
    SqliteTransaction transaction(db_);
    const std::string id = std::to_string(cameraId);
    const bool ok = db_.Execute("DELETE FROM account_cameras WHERE camera_id = " + id) &&
                    db_.Execute("DELETE FROM virtual_node_members WHERE camera_id = " + id) &&
                    db_.Execute("DELETE FROM cameras WHERE id = " + id);
    return ok && transaction.Commit() ? 1 : -1;
}

bool ServiceStore::RenameCamera(const Account& viewer, std::int64_t cameraId, const std::string& name) {
    if (!UsableName(name, kMaxCameraName)) return false;
    std::lock_guard<std::mutex> guard(lock_);
    auto update = db_.Prepare("UPDATE cameras SET name = ? WHERE id = ? AND owner_id = ?");
    update.Bind(1, name).Bind(2, cameraId).Bind(3, viewer.id);
    return update.Run() && db_.Changes() > 0;
}

}  // namespace sim
