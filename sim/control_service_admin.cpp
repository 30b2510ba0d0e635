// The proxy's answers to the account holder's administration: sub-accounts (40-45,
// 66, 67), their authorities (500-502), user groups (62, 63), feedback (51) and
// messages (60, 61, 65, with the pushed notice 35 to a logged-in recipient).
#include <json/json.h>

#include <charconv>

#include "sim/control_service.h"

namespace sim {
namespace {

Json::Value StatusOf(int status) {
    Json::Value params(Json::objectValue);
    params["status"] = status;
    return params;
}

int NumberOr(const std::string& text, int fallback) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return text.empty() || error != std::errc() || end != text.data() + text.size() ? fallback : value;
}

}  // namespace

ControlService::Replies ControlService::SaveAccount(const Account& viewer, const control::ControlMessage& request) {
    std::int64_t userId = -1;
    const std::string id = request.Param("userId");
    auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), userId);
    if (id.empty() || error != std::errc() || end != id.data() + id.size()) return {StatusOf(-1)};
    std::map<std::string, std::string> fields;
    for (const char* key : {"userName", "nick", "password", "expiredDate", "onlineMax", "userGroupId"}) {
        auto it = request.params.find(key);
        if (it != request.params.end()) fields[key] = it->second;
    }
    const bool saved = store_.SaveAccount(viewer, userId, fields);
    Log("save account " + id + (saved ? " -> 1" : " -> -1"));
    return {StatusOf(saved ? 1 : -1)};
}

ControlService::Replies ControlService::SubAccounts(const Account& viewer, const control::ControlMessage& request) {
    int total = 0;
    const auto rows = store_.SubAccounts(viewer, NumberOr(request.Param("start"), 0),
                                         NumberOr(request.Param("count"), 100), total);
    std::vector<std::string> ids, names, nicks, expiries, maxima, groupIds, groupNames;
    for (const SubAccountRow& row : rows) {
        ids.push_back(std::to_string(row.id));
        names.push_back(row.userName);
        nicks.push_back(row.nick);
        expiries.push_back(row.expiredDate);
        maxima.push_back(std::to_string(row.onlineMax));
        groupIds.push_back(std::to_string(row.groupId));
        groupNames.push_back(row.groupName);
    }
    Json::Value reply = StatusOf(1);
    reply["userIdList"] = JoinItems(ids);
    reply["userNameList"] = JoinItems(names);
    reply["nickList"] = JoinItems(nicks);
    reply["expiredDateList"] = JoinItems(expiries);
    reply["onlineMaxList"] = JoinItems(maxima);
    reply["userGroupIdList"] = JoinItems(groupIds);
    reply["userGroupNameList"] = JoinItems(groupNames);
    reply["total"] = std::to_string(total);
    return {reply};
}

ControlService::Replies ControlService::Feedback(const Account& viewer, const control::ControlMessage& request) {
    return {StatusOf(store_.AddFeedback(viewer, request.Param("content")) ? 1 : -1)};
}

ControlService::Replies ControlService::Messages(const Account& viewer) {
    std::vector<std::string> ids, kinds, titles, times;
    for (const TipRow& tip : store_.Tips(viewer)) {
        ids.push_back(std::to_string(tip.id));
        kinds.push_back(tip.kindName);
        titles.push_back(tip.title);
        times.push_back(tip.datetime);
    }
    Json::Value reply = StatusOf(1);
    std::vector<std::string> read;
    for (const std::string& id : ids) read.push_back(store_.TipRead(viewer, std::stoll(id)) ? "1" : "0");
    reply["tipReadList"] = JoinItems(read);  // beyond what the client reads: the recipient's read state
    reply["tipIdList"] = JoinItems(ids);
    reply["tipKindNameList"] = JoinItems(kinds);
    reply["tipTitleList"] = JoinItems(titles);
    reply["tipDatetimeList"] = JoinItems(times);
    return {reply};
}

ControlService::Replies ControlService::UserGroups(const Account& viewer) {
    std::vector<std::string> ids, names;
    for (const auto& [id, name] : store_.UserGroups(viewer)) {
        ids.push_back(std::to_string(id));
        names.push_back(name);
    }
    Json::Value reply = StatusOf(1);
    reply["userGroupIdList"] = JoinItems(ids);
    reply["userGroupNameList"] = JoinItems(names);
    return {reply};
}

ControlService::Replies ControlService::AddSubAccount(const Account& viewer, const control::ControlMessage& request) {
    std::int64_t id = 0;
    const int status = store_.AddSubAccount(viewer, request.Param("userName"), request.Param("nick"),
                                            request.Param("password"), id);
    Log("add sub-account " + request.Param("userName") + " -> " + std::to_string(status));
    Json::Value reply = StatusOf(status);
    if (status == 1) reply["userId"] = std::to_string(id);
    return {reply};
}

ControlService::Replies ControlService::DeleteSubAccounts(const Account& viewer, const control::ControlMessage& request) {
    auto ids = ParseIdList(request.Param("userId"));
    return {StatusOf(ids && store_.DeleteSubAccounts(viewer, *ids) ? 1 : -1)};
}

ControlService::Replies ControlService::SubAccountCameras(const Account& viewer, const control::ControlMessage& request) {
    auto id = ParseId(request.Param("userId"));
    auto given = id ? store_.SubAccountCameras(viewer, *id) : std::nullopt;
    Json::Value reply = StatusOf(given ? 1 : -1);
    std::vector<std::string> cameras, nodes;
    if (given) {
        for (std::int64_t camera : given->first) cameras.push_back(std::to_string(camera));
        for (std::int64_t node : given->second) nodes.push_back(std::to_string(node));
    }
    reply["userId"] = request.Param("userId");
    reply["cameraIdList"] = JoinItems(cameras);
    reply["nodeIdList"] = JoinItems(nodes);
    return {reply};
}

// Batch saves answer 1 when every account took the change, else -1 with the ids and
// user names of those that did not.
namespace {
Json::Value BatchResult(const std::vector<std::string>& failedIds, const std::vector<std::string>& failedNames) {
    Json::Value reply = StatusOf(failedIds.empty() ? 1 : -1);
    reply["failUserIdList"] = JoinItems(failedIds);
    reply["failUserNameList"] = JoinItems(failedNames);
    return reply;
}
}  // namespace

ControlService::Replies ControlService::SaveSubAccountCameras(const Account& viewer,
                                                              const control::ControlMessage& request, bool batch) {
    auto users = ParseIdList(request.Param(batch ? "userIdList" : "userId"));
    // Cameras come grouped by node: "1;2:3".
    auto cameras = ParseIdList(request.Param("cameraIdList"), ";:");
    auto nodes = ParseIdList(request.Param("nodeIdList"));
    if (!users || users->empty() || !cameras || !nodes || (!batch && users->size() != 1)) return {StatusOf(-1)};
    if (!batch) return {StatusOf(store_.SetSubAccountCameras(viewer, *users, *nodes, *cameras) ? 1 : -1)};
    std::vector<std::string> failedIds, failedNames;
    for (std::int64_t user : *users)
        if (!store_.SetSubAccountCameras(viewer, {user}, *nodes, *cameras)) {
            failedIds.push_back(std::to_string(user));
            failedNames.push_back(store_.SubAccountName(viewer, user).value_or(std::to_string(user)));
        }
    return {BatchResult(failedIds, failedNames)};
}

ControlService::Replies ControlService::SaveAuthorities(const Account& viewer, const control::ControlMessage& request,
                                                        bool batch) {
    auto users = ParseIdList(request.Param(batch ? "userIdList" : "userId"));
    std::vector<std::string> names;
    const std::string list = request.Param("authorityList");
    for (std::size_t begin = 0; begin < list.size();) {
        const std::size_t end = std::min(list.find(';', begin), list.size());
        if (end > begin) names.push_back(list.substr(begin, end - begin));  // "A;B;" ends with a separator
        begin = end + 1;
    }
    if (!users || users->empty() || (!batch && users->size() != 1)) return {StatusOf(-1)};
    if (!batch) return {StatusOf(store_.SetAuthorities(viewer, *users, names) ? 1 : -1)};
    std::vector<std::string> failedIds, failedNames;
    for (std::int64_t user : *users)
        if (!store_.SetAuthorities(viewer, {user}, names)) {
            failedIds.push_back(std::to_string(user));
            failedNames.push_back(store_.SubAccountName(viewer, user).value_or(std::to_string(user)));
        }
    return {BatchResult(failedIds, failedNames)};
}

ControlService::Replies ControlService::SaveSubAccounts(const Account& viewer, const control::ControlMessage& request) {
    auto users = ParseIdList(request.Param("userIdList"));
    if (!users || users->empty()) return {StatusOf(-1)};
    for (std::int64_t user : *users)
        if (!store_.SubAccountName(viewer, user)) return {StatusOf(-1)};
    // Only the fields sent change; "0" clears a group or maximum, 1970/01/01 an expiry.
    std::map<std::string, std::string> fields;
    for (const char* key : {"userGroupId", "expiredDate", "onlineMax"}) {
        auto it = request.params.find(key);
        if (it != request.params.end() && !it->second.empty()) fields[key] = it->second;
    }
    bool ok = true;
    for (std::int64_t user : *users) ok = store_.SaveAccount(viewer, user, fields) && ok;
    return {StatusOf(ok ? 1 : -1)};
}

ControlService::Replies ControlService::EditUserGroup(const Account& viewer, const control::ControlMessage& request) {
    const auto& params = request.params;
    std::int64_t id = 0;
    bool ok = false;
    if (params.count("deleteUserGroupId")) {
        auto group = ParseId(request.Param("deleteUserGroupId"));
        ok = group && store_.DeleteUserGroup(viewer, *group);
        id = group.value_or(0);
    } else if (params.count("userGroupId")) {
        auto group = ParseId(request.Param("userGroupId"));
        ok = group && store_.RenameUserGroup(viewer, *group, request.Param("userGroupName"));
        id = group.value_or(0);
    } else {
        ok = store_.AddUserGroup(viewer, request.Param("userGroupName"), id);
    }
    Json::Value reply = StatusOf(ok ? 1 : -1);
    if (ok) reply["userGroupId"] = std::to_string(id);
    return {reply};
}

ControlService::Replies ControlService::ReadMessage(const Account& viewer, const control::ControlMessage& request) {
    auto id = ParseId(request.Param("tipId"));
    auto content = id ? store_.ReadTip(viewer, *id) : std::nullopt;
    Json::Value reply = StatusOf(content ? 1 : -1);
    reply["tipContent"] = content.value_or("");
    return {reply};
}

ControlService::Replies ControlService::SendMessage(const Account& viewer, const control::ControlMessage& request) {
    auto ids = ParseIdList(request.Param("userIdList"));
    const std::string title = request.Param("tipTitle"), content = request.Param("tipContent");
    auto recipients = ids ? store_.SendTip(viewer, *ids, title, content) : std::nullopt;
    if (!recipients) return {StatusOf(-1)};
    // A recipient logged in now sees the message at once.
    for (std::int64_t recipient : *recipients) PushNotice(recipient, 1, title, content);
    Log("message to " + std::to_string(recipients->size()) + " sub-accounts");
    return {StatusOf(1)};
}

}  // namespace sim
