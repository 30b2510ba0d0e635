#include "sim/control_service.h"

#include <json/json.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace sim {
namespace {

enum MsgType : int {
    kHeartbeat = 1,
    kLogin = 2,
    kForwardingAddress = 5,
    kPlaybackSetUp = 6,
    kAlarmPush = 7,
    kAlarmSearch = 8,
    kRenewCamera = 74,
    kCameraList = 29,
    kNoticePush = 35,
    kSaveAccount = 42,
    kListSubAccounts = 43,
    kForwardingAddressWithNode = 50,
    kFeedback = 51,
    kListMessages = 60,
    kListUserGroups = 63,
    kAuthorityList = 500,
    // Administration.
    kCreateGroup = 30,
    kDeleteGroup = 31,
    kEditGroup = 33,
    kAddAreasToGroup = 36,
    kListAreas = 37,
    kAddSubAccount = 40,
    kDeleteSubAccounts = 41,
    kSubAccountCameras = 44,
    kSaveSubAccountCameras = 45,
    kDeleteCamera = 47,
    kRenameCamera = 48,
    kDeleteArea = 49,
    kListTemplates = 52,
    kTemplatePeriods = 53,
    kSaveTemplate = 54,
    kAssignTemplate = 55,
    kCameraTemplate = 56,
    kDeleteTemplates = 57,
    kCameraHasTemplate = 58,
    kReadMessage = 61,
    kEditUserGroup = 62,
    kSendMessage = 65,
    kSaveSubAccounts = 66,
    kSaveSubAccountsCameras = 67,
    kSaveAuthorities = 501,
    kSaveSubAccountsAuthorities = 502,
};

// Forwarding-address statuses: the reconnection logic treats 1 and -3 as usable.
constexpr int kRouteOnline = 1;
constexpr int kRouteUnknownCamera = -1;
constexpr int kRouteExpired = -2;
constexpr int kRouteCameraOffline = -3;
// Playback set-up status when the window holds no recording of the camera ("无数据").
constexpr int kPlaybackNoData = -2;

// The 13 parallel lists of the camera and node list, in the order the client reads them.
const char* const kListKeys[] = {"cameraIdList", "cameraNameList", "cameraActiveList", "cameraExpiredList",
                                 "expiredDateList", "transpondIPList", "transpondPortList", "nodeIdList",
                                 "nodeNameList", "activeList", "cameraCountList", "cameraOnlineCountList",
                                 "parentIdList"};
constexpr std::size_t kListCount = std::size(kListKeys);

Json::Value Status(int status) {
    Json::Value params(Json::objectValue);
    params["status"] = status;
    return params;
}

std::string Join(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) text += ';';
        text += items[i];
    }
    return text;
}

std::array<std::string, kListCount> RowItems(const ListRow& row) {
    if (row.isNode)
        return {"", "", "", "", "", "", "", ListItem(row.id), ListItem(row.name), row.onlineCount > 0 ? "1" : "0",
                std::to_string(row.cameraCount), std::to_string(row.onlineCount), ListItem(row.parentId)};
    return {ListItem(row.id),
            ListItem(row.name),
            row.online ? "1" : "0",
            row.inService ? "1" : "0",  // 1 = in service; anything else reads as expired
            ListItem(row.expiredDate),
            ListItem(row.transpondIp),
            row.transpondPort > 0 ? std::to_string(row.transpondPort) : "",
            "",
            "",
            "",
            "0",
            "0",
            ListItem(row.parentId)};
}

}  // namespace

std::string JoinItems(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) text += ';';
        text += ListItem(items[i]);
    }
    return text;
}

std::optional<std::int64_t> ParseId(const std::string& text) {
    if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoll(text);
}

std::optional<std::vector<std::int64_t>> ParseIdList(const std::string& text, const char* separators) {
    std::vector<std::int64_t> ids;
    if (text.empty()) return ids;
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = text.find_first_of(separators, begin);
        auto id = ParseId(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (!id) return std::nullopt;
        ids.push_back(*id);
        if (end == std::string::npos || ids.size() > 100000) break;
        begin = end + 1;
    }
    return ids;
}

std::string ListItem(const std::string& value) {
    std::string item;
    item.reserve(value.size());
    for (char c : value) {
        if (c == ';')
            item += "\xEF\xBC\x9B";  // the full-width semicolon
        else
            item += c;
    }
    return item;
}

ControlService::ControlService(ServiceStore& store, ReplyChannel& channel, Scheduler scheduler, ControlOptions options)
    : store_(store), channel_(channel), scheduler_(std::move(scheduler)), options_(std::move(options)) {}

void ControlService::Log(const std::string& text) const {
    if (options_.log) options_.log(text);
}

std::string ControlService::UploadUrl(const Account& account) const {
    return options_.uploadUrlBase + std::to_string(account.id) + "/";
}

void ControlService::OnAccept(ConnectionId connection) {
    std::lock_guard<std::mutex> guard(lock_);
    Session& session = sessions_[connection];
    session.scramble = options_.scrambleByDefault;
}

void ControlService::OnClosed(ConnectionId connection) {
    std::lock_guard<std::mutex> guard(lock_);
    sessions_.erase(connection);
}

void ControlService::OnMessage(ConnectionId connection, const char* data, std::size_t length) {
    auto request = control::DecodeMessage(data, length);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!sessions_.count(connection)) sessions_[connection].scramble = options_.scrambleByDefault;
        if (!request) {
            ++stats_.undecodable;
        } else {
            ++stats_.requests;
        }
    }
    if (!request) {
        Log("undecodable request dropped (" + std::to_string(length) + " bytes)");
        return;
    }
    Dispatch(connection, *request);
}

void ControlService::Dispatch(ConnectionId connection, const control::ControlMessage& request) {
    if (request.msgType == kHeartbeat) return Answer(connection, request, {Status(1)});
    if (request.msgType == kLogin) return Answer(connection, request, Login(connection, request));
    if (request.msgType == kAlarmPush || request.msgType == kNoticePush) return;  // the service's own pushes

    std::optional<Account> viewer;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = sessions_.find(connection);
        if (it != sessions_.end() && it->second.loggedIn) viewer = it->second.account;
    }
    if (!viewer) {
        Json::Value refusal = Status(kStatusNotLoggedIn);
        if (request.msgType == kCameraList) refusal["end"] = 1;  // a list waiter must not wait for more
        return Answer(connection, request, {refusal});
    }
    switch (request.msgType) {
        case kCameraList: return Answer(connection, request, CameraList(*viewer, request));
        case kForwardingAddress: return Answer(connection, request, ForwardingAddress(*viewer, request, false));
        case kForwardingAddressWithNode: return Answer(connection, request, ForwardingAddress(*viewer, request, true));
        case kPlaybackSetUp: return Answer(connection, request, PlaybackSetUp(*viewer, request));
        case kAlarmSearch: return Answer(connection, request, AlarmSearch(*viewer, request));
        case kAuthorityList: return Answer(connection, request, AuthorityList(*viewer, request));
        case kRenewCamera: return Answer(connection, request, RenewCamera(*viewer, request));
        case kSaveAccount: return Answer(connection, request, SaveAccount(*viewer, request));
        case kListSubAccounts: return Answer(connection, request, SubAccounts(*viewer, request));
        case kFeedback: return Answer(connection, request, Feedback(*viewer, request));
        case kListMessages: return Answer(connection, request, Messages(*viewer));
        case kListUserGroups: return Answer(connection, request, UserGroups(*viewer));
        case kAddSubAccount: return Answer(connection, request, AddSubAccount(*viewer, request));
        case kDeleteSubAccounts: return Answer(connection, request, DeleteSubAccounts(*viewer, request));
        case kSubAccountCameras: return Answer(connection, request, SubAccountCameras(*viewer, request));
        case kSaveSubAccountCameras: return Answer(connection, request, SaveSubAccountCameras(*viewer, request, false));
        case kSaveSubAccountsCameras: return Answer(connection, request, SaveSubAccountCameras(*viewer, request, true));
        case kSaveAuthorities: return Answer(connection, request, SaveAuthorities(*viewer, request, false));
        case kSaveSubAccountsAuthorities: return Answer(connection, request, SaveAuthorities(*viewer, request, true));
        case kSaveSubAccounts: return Answer(connection, request, SaveSubAccounts(*viewer, request));
        case kEditUserGroup: return Answer(connection, request, EditUserGroup(*viewer, request));
        case kReadMessage: return Answer(connection, request, ReadMessage(*viewer, request));
        case kSendMessage: return Answer(connection, request, SendMessage(*viewer, request));
        case kCreateGroup: return Answer(connection, request, CreateGroup(*viewer, request));
        case kDeleteGroup: return Answer(connection, request, DeleteGroup(*viewer, request));
        case kEditGroup: return Answer(connection, request, EditGroup(*viewer, request));
        case kAddAreasToGroup: return Answer(connection, request, AddAreas(*viewer, request));
        case kListAreas: return Answer(connection, request, Areas(*viewer));
        case kDeleteCamera: return Answer(connection, request, DeleteCamera(*viewer, request));
        case kRenameCamera: return Answer(connection, request, RenameCamera(*viewer, request));
        case kDeleteArea: return Answer(connection, request, DeleteArea(*viewer, request));
        case kListTemplates: return Answer(connection, request, Templates(*viewer, request));
        case kTemplatePeriods: return Answer(connection, request, TemplatePeriods(*viewer, request));
        case kSaveTemplate: return Answer(connection, request, SaveTemplate(*viewer, request));
        case kAssignTemplate: return Answer(connection, request, AssignTemplate(*viewer, request));
        case kCameraTemplate: return Answer(connection, request, CameraTemplate(*viewer, request));
        case kDeleteTemplates: return Answer(connection, request, DeleteTemplates(*viewer, request));
        case kCameraHasTemplate: return Answer(connection, request, CameraHasTemplate(*viewer, request));
        default: return Answer(connection, request, {Status(-1)});  // not offered by this service
    }
}

ControlService::Replies ControlService::Login(ConnectionId connection, const control::ControlMessage& request) {
    const std::string userName = request.Param("userName");
    int liveSessions = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& [id, session] : sessions_)
            if (id != connection && session.loggedIn && session.account.userName == userName) ++liveSessions;
    }
    Account account;
    const int status = store_.CheckLogin(userName, request.Param("password"), std::atoi(request.Param("oemId").c_str()),
                                         FormatDate(store_.Now()), liveSessions, account);
    Json::Value reply = Status(status);
    const bool accepted = status == kLoginAccepted || status == kLoginForeignAccount;
    {
        std::lock_guard<std::mutex> guard(lock_);
        Session& session = sessions_[connection];
        session.loggedIn = accepted;
        if (accepted) {
            session.account = account;
            if (!session.scrambleForced) session.scramble = account.scrambleReplies || options_.scrambleByDefault;
        }
    }
    Log("login " + userName + " -> " + std::to_string(status));
    if (!accepted) return {reply};
    reply["userId"] = std::to_string(account.id);
    reply["updateUrl"] = options_.updateUrl;
    reply["activeTime"] = account.activeTime;
    reply["uploadUrl"] = UploadUrl(account);
    reply["enableList"] = account.enableList;
    reply["showMsg"] = account.showMsg;
    if (options_.pushNoticesOnLogin && !account.showMsg.empty() && scheduler_) {
        const std::int64_t id = account.id;
        const std::string text = account.showMsg;
        scheduler_(std::chrono::milliseconds(200), [this, id, text] { PushNotice(id, 1, "系统公告", text); });
    }
    return {reply};
}

ControlService::Replies ControlService::CameraList(const Account& viewer, const control::ControlMessage& request) {
    const std::string userId = request.Param("userId");
    if (!userId.empty() && userId != std::to_string(viewer.id)) {
        Json::Value refusal = Status(-1);
        refusal["end"] = 1;
        return {refusal};
    }
    const std::vector<ListRow> rows = store_.CameraTree(viewer);
    // At least two rows a reply: the client separates chunks only once its camera-id
    // list holds text, which a first reply of one node row would leave empty.
    const std::size_t chunk = std::max<std::size_t>(2, options_.listChunkRows);
    Replies replies;
    std::size_t begin = 0;
    do {
        const std::size_t end = std::min(rows.size(), begin + chunk);
        std::array<std::vector<std::string>, kListCount> lists;
        for (std::size_t r = begin; r < end; ++r) {
            auto items = RowItems(rows[r]);
            for (std::size_t k = 0; k < kListCount; ++k) lists[k].push_back(std::move(items[k]));
        }
        Json::Value reply = Status(1);
        for (std::size_t k = 0; k < kListCount; ++k) reply[kListKeys[k]] = Join(lists[k]);
        reply["end"] = end >= rows.size() ? 1 : 0;
        replies.push_back(std::move(reply));
        begin = end;
    } while (begin < rows.size());
    Log("camera list " + viewer.userName + " -> " + std::to_string(rows.size()) + " rows");
    return replies;
}

ControlService::Replies ControlService::ForwardingAddress(const Account& viewer,
                                                          const control::ControlMessage& request, bool withNode) {
    auto route = store_.Route(viewer, request.Param("cameraId"));
    if (!route) return {Status(kRouteUnknownCamera)};
    if (!route->inService) return {Status(kRouteExpired)};
    Json::Value reply = Status(route->online ? kRouteOnline : kRouteCameraOffline);
    reply["transpondIP"] = route->transpondIp;
    reply["transpondPort"] = route->transpondPort > 0 ? std::to_string(route->transpondPort) : "";
    reply["transpondStatus"] = route->serverRunning ? "1" : "0";
    reply["keyword"] = route->keyword;
    if (withNode) reply["nodeId"] = route->nodeId;
    return {reply};
}

ControlService::Replies ControlService::PlaybackSetUp(const Account& viewer, const control::ControlMessage& request) {
    auto start = NormaliseDateTime(request.Param("startTime"));
    auto end = NormaliseDateTime(request.Param("endTime"));
    if (!start || !end || *start > *end) return {Status(-1)};
    if (viewer.parentId != 0) {
        auto rights = store_.Authorities(viewer, viewer.id);
        if (!rights || std::find(rights->begin(), rights->end(), "VIDEO_PLAYBACK") == rights->end())
            return {Status(-2)};
    }
    auto setup = store_.SetUpPlayback(viewer, request.Param("cameraId"), *start, *end);
    if (!setup) return {Status(-1)};
    if (setup->ranges.empty()) return {Status(kPlaybackNoData)};
    std::vector<std::string> ranges;
    for (const auto& [from, to] : setup->ranges) ranges.push_back(from + "~" + to);
    Json::Value reply = Status(1);
    reply["playbackId"] = std::to_string(setup->playbackId);
    reply["transpondIP"] = setup->transpondIp;
    reply["transpondPort"] = setup->transpondPort > 0 ? std::to_string(setup->transpondPort) : "";
    reply["timeQuantum"] = Join(ranges);
    return {reply};
}

ControlService::Replies ControlService::AlarmSearch(const Account& viewer, const control::ControlMessage& request) {
    static const char* const kKeys[] = {"nodeIdList", "nodeNameList", "cameraIdList", "cameraNameList",
                                        "kindNameList", "msgList", "pictureList", "datetimeList"};
    AlarmQuery query;
    auto start = NormaliseDateTime(request.Param("startTime"));
    auto end = NormaliseDateTime(request.Param("endTime"));
    Json::Value reply = Status(1);
    if (!start || !end) {
        reply = Status(-1);
        for (const char* key : kKeys) reply[key] = "";
        return {reply};
    }
    query.startTime = *start;
    query.endTime = *end;
    query.nodeId = request.Param("nodeId");
    query.cameraId = request.Param("cameraId");
    query.limit = options_.alarmSearchLimit;
    std::array<std::vector<std::string>, 8> lists;
    for (const AlarmRow& row : store_.SearchAlarms(viewer, query)) {
        const std::string* values[] = {&row.nodeId,   &row.nodeName, &row.cameraId, &row.cameraName,
                                       &row.kindName, &row.msg,      &row.picture,  &row.time};
        for (std::size_t k = 0; k < 8; ++k) lists[k].push_back(ListItem(*values[k]));
    }
    for (std::size_t k = 0; k < 8; ++k) reply[kKeys[k]] = Join(lists[k]);
    return {reply};
}

ControlService::Replies ControlService::AuthorityList(const Account& viewer, const control::ControlMessage& request) {
    const std::string userId = request.Param("userId");
    std::int64_t target = viewer.id;
    if (!userId.empty()) {
        char* end = nullptr;
        target = std::strtoll(userId.c_str(), &end, 10);
        if (end == userId.c_str() || *end != '\0') target = -1;
    }
    auto names = target > 0 ? store_.Authorities(viewer, target) : std::nullopt;
    Json::Value reply = Status(names ? 1 : -1);
    reply["userId"] = userId.empty() ? std::to_string(viewer.id) : userId;
    Json::Value authority(Json::arrayValue);
    if (names)
        for (const std::string& name : *names) {
            Json::Value entry(Json::objectValue);
            entry["name"] = name;
            authority.append(entry);
        }
    reply["authority"] = authority;
    return {reply};
}

void ControlService::Answer(ConnectionId connection, const control::ControlMessage& request, Replies replies) {
    ReplyFault fault;
    bool scramble = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto f = faults_.find(request.msgType);
        if (f != faults_.end()) fault = f->second;
        auto s = sessions_.find(connection);
        scramble = s != sessions_.end() ? s->second.scramble : options_.scrambleByDefault;
        if (fault.withhold) {
            stats_.withheld += replies.size();
            return;
        }
    }
    if (fault.scramble) scramble = *fault.scramble;
    std::vector<std::string> messages;
    for (const Json::Value& params : replies) {
        std::string message = control::EncodeEnvelope(request.id, request.msgType, request.realm, params, false);
        if (fault.malformed) {
            // Cut inside the params object, so the text is no longer valid JSON.
            const std::size_t paramsAt = message.find("\"params\"");
            if (paramsAt != std::string::npos) message.resize(std::min(message.size(), paramsAt + 12));
        }
        if (scramble)
            for (std::size_t i = 1; i < message.size(); ++i)
                message[i] = static_cast<char>(message[i] ^ control::kScrambleMask);
        messages.push_back(std::move(message));
    }
    if (fault.delay.count() > 0 && scheduler_) {
        scheduler_(fault.delay, [this, connection, messages] { Deliver(connection, messages); });
        return;
    }
    Deliver(connection, messages);
}

void ControlService::Deliver(ConnectionId connection, const std::vector<std::string>& messages) {
    for (const std::string& message : messages) {
        if (!channel_.Send(connection, message)) return;
        std::lock_guard<std::mutex> guard(lock_);
        ++stats_.replies;
    }
}

int ControlService::Push(std::int64_t accountId, int msgType, const Json::Value& params) {
    std::vector<std::pair<ConnectionId, bool>> targets;
    std::int32_t id = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& [connection, session] : sessions_)
            if (session.loggedIn && (accountId == 0 || session.account.id == accountId))
                targets.emplace_back(connection, session.scramble);
        id = ++pushId_;
    }
    int reached = 0;
    for (const auto& [connection, scramble] : targets)
        if (channel_.Send(connection, control::EncodeEnvelope(id, msgType, 1, params, scramble))) ++reached;
    return reached;
}

int ControlService::PushAlarm(std::int64_t accountId, const AlarmRow& alarm) {
    Json::Value params(Json::objectValue);
    params["nodeId"] = alarm.nodeId;
    params["nodeName"] = alarm.nodeName;
    params["cameraId"] = alarm.cameraId;
    params["cameraName"] = alarm.cameraName;
    params["kindName"] = alarm.kindName;
    params["msg"] = alarm.msg;
    params["time"] = alarm.time;
    params["picture"] = alarm.picture;
    return Push(accountId, kAlarmPush, params);
}

int ControlService::PushNotice(std::int64_t accountId, int cmd, const std::string& title, const std::string& content) {
    Json::Value params(Json::objectValue);
    params["cmd"] = std::to_string(cmd);
    params["tipTitle"] = title;
    params["tipContent"] = content;
    return Push(accountId, kNoticePush, params);
}

int ControlService::PushRandomAlarms() {
    std::vector<std::pair<ConnectionId, Account>> targets;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& [connection, session] : sessions_)
            if (session.loggedIn) targets.emplace_back(connection, session.account);
    }
    static const std::pair<const char*, const char*> kKinds[] = {
        {"移动侦测", "检测到移动物体"}, {"区域入侵", "有人进入警戒区域"}, {"视频遮挡", "画面被遮挡"}};
    int reached = 0;
    for (const auto& [connection, account] : targets) {
        auto cameras = store_.VisibleCameraIds(account, 64);
        if (cameras.empty()) continue;
        std::uint32_t pick;
        {
            std::lock_guard<std::mutex> guard(lock_);
            randomState_ = randomState_ * 1103515245u + 12345u;
            pick = randomState_ >> 8;
        }
        const auto& [kind, what] = kKinds[pick % std::size(kKinds)];
        auto alarm = store_.AddAlarm(cameras[pick % cameras.size()], kind, what, FormatDateTime(store_.Now()));
        if (alarm) reached += PushAlarm(account.id, *alarm);
    }
    return reached;
}

void ControlService::SetReplyFault(int msgType, ReplyFault fault) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_[msgType] = fault;
}

void ControlService::ClearFaults() {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.clear();
}

void ControlService::SetConnectionScramble(ConnectionId connection, bool scramble) {
    std::lock_guard<std::mutex> guard(lock_);
    Session& session = sessions_[connection];
    session.scramble = scramble;
    session.scrambleForced = true;
}

bool ControlService::SendRaw(ConnectionId connection, const std::string& bytes) {
    return channel_.SendRaw(connection, bytes);
}

void ControlService::CloseAll() {
    for (ConnectionId connection : Connections()) channel_.Close(connection);
}

std::vector<ConnectionId> ControlService::Connections() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<ConnectionId> ids;
    for (const auto& entry : sessions_) ids.push_back(entry.first);
    return ids;
}

std::vector<ConnectionId> ControlService::LoggedInConnections() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<ConnectionId> ids;
    for (const auto& [id, session] : sessions_)
        if (session.loggedIn) ids.push_back(id);
    return ids;
}

ControlService::Stats ControlService::GetStats() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stats_;
}

ControlService::Replies ControlService::RenewCamera(const Account& viewer, const control::ControlMessage& request) {
    const std::string cameraId = request.Param("cameraId");
    const ServiceStore::Renewal renewal = store_.RenewCamera(viewer, cameraId);
    Json::Value reply = Status(renewal.status);
    reply["cameraId"] = cameraId;
    reply["expire"] = renewal.status == 1 ? std::to_string(ServiceStore::kRenewalDays) : "0";
    reply["expiredDate"] = renewal.expiredDate;
    Log("renew " + cameraId + " -> " + std::to_string(renewal.status));
    return {reply};
}

}  // namespace sim
