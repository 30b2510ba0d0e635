// The proxy's answers to the administration requests the main window sends: saving
// an account (42), the sub-account list (43), feedback (51), the message list (60) and
// the user groups (63).
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

std::string JoinItems(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) text += ';';
        text += ListItem(items[i]);
    }
    return text;
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
    for (const char* key : {"nick", "password", "expiredDate", "onlineMax", "userGroupId"}) {
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

}  // namespace sim
