// The requests whose replies the caller waits for, and the records built from them.
#include <algorithm>
#include <cstdlib>

#include "core/log_file.h"
#include "core/md5.h"
#include "control/control_client.h"
#include "control/sync_request_slot.h"
#include "platform/debug_trace.h"

namespace control {
namespace {

constexpr int kHeartbeatType = 1;
constexpr int kLoginType = 2;
constexpr int kAddressType = 5;
constexpr int kPlaybackType = 6;
constexpr int kAlarmPushType = 7;
constexpr int kAlarmSearchType = 8;
constexpr int kListType = 29;
constexpr int kAddressWithNodeType = 50;
constexpr int kAuthorityType = 500;

// The authority reply grants what it names only with a status above 0. A status that
// is no number at all (the decoder lets such replies through) counts as given.
bool AuthorityGranted(const std::string& status) {
    if (status.empty()) return false;
    char* end = nullptr;
    const double value = std::strtod(status.c_str(), &end);
    if (end == status.c_str() || *end != '\0') return true;
    return value > 0;
}

}  // namespace

std::vector<std::string> SplitList(const std::string& text, char separator) {
    std::vector<std::string> items;
    std::string::size_type start = 0;
    for (;;) {
        auto end = text.find(separator, start);
        items.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return items;
        start = end + 1;
    }
}

void AlarmSearchResult::Append(const AlarmRecord& r) {
    nodeIds.push_back(r.nodeId);
    nodeNames.push_back(r.nodeName);
    cameraIds.push_back(r.cameraId);
    cameraNames.push_back(r.cameraName);
    kindNames.push_back(r.kindName);
    messages.push_back(r.message);
    pictureUrls.push_back(r.pictureUrl);
    times.push_back(r.time);
}

AlarmRecord AlarmSearchResult::Row(std::size_t i) const {
    return AlarmRecord{nodeIds[i],  nodeNames[i],   cameraIds[i],   cameraNames[i],
                       kindNames[i], messages[i], pictureUrls[i], times[i]};
}

ControlClient::ControlClient(const Timing& timing, core::AppConfig& config)
    : timing_(timing),
      config_(config),
      sendBuffer_(kSendBufferSize),
      loginSlot_(std::make_unique<SyncRequestSlot>(kLoginType)),
      listSlot_(std::make_unique<SyncRequestSlot>(kListType)),
      addressSlot_(std::make_unique<SyncRequestSlot>(kAddressType)),
      addressWithNodeSlot_(std::make_unique<SyncRequestSlot>(kAddressWithNodeType)),
      playbackSlot_(std::make_unique<SyncRequestSlot>(kPlaybackType)),
      alarmSlot_(std::make_unique<SyncRequestSlot>(kAlarmSearchType)),
      authoritySlot_(std::make_unique<SyncRequestSlot>(kAuthorityType)) {
    heartbeat_.id = static_cast<std::int32_t>(platform::TickCount());
    heartbeat_.msgType = kHeartbeatType;
    heartbeat_.realm = 1;
    keepAlive_.Start([this](core::ThreadWrapper& self) { KeepAlive(self); });
}

void ControlClient::ResetSlot(SyncRequestSlot& slot) {
    slot.event.Reset();
    std::lock_guard lock(slot.mutex);
    slot.status = -1;
    slot.reply.clear();
}

bool ControlClient::RunSync(SyncRequestSlot& slot, std::map<std::string, std::string> params,
                            std::uint32_t timeoutMs, const Handler& handler) {
    ResetSlot(slot);
    slot.request.params = std::move(params);
    return SendMessage(slot.request, handler) && WaitForReply(slot, timeoutMs);
}

bool ControlClient::WaitForReply(SyncRequestSlot& slot, std::uint32_t timeoutMs) {
    // The shut-down event is manual-reset, so it wakes every waiter for good.
    const int woken = platform::WaitForAny({&slot.event, &shutDownEvent_}, timeoutMs);
    return woken == 0 && !shutDown_;
}

namespace {

// A reply handler that copies `keys` (and the status) into the slot and wakes the caller.
template <class Slot>
ControlClient::Handler CopyingHandler(Slot& slot, std::vector<std::string> keys) {
    return [&slot, keys = std::move(keys)](const ControlMessage& reply) {
        {
            std::lock_guard lock(slot.mutex);
            slot.status = std::atoi(reply.Param("status").c_str());
            for (const std::string& key : keys) slot.reply[key] = reply.Param(key);
        }
        slot.event.Set();
    };
}

// Takes the slot's reply out and leaves the slot clean for the next request.
template <class Slot>
std::pair<int, std::map<std::string, std::string>> TakeReply(Slot& slot) {
    std::lock_guard lock(slot.mutex);
    auto taken = std::make_pair(slot.status, std::move(slot.reply));
    slot.status = -1;
    slot.reply.clear();
    return taken;
}

}  // namespace

int ControlClient::Login() {
    SyncRequestSlot& slot = *loginSlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    const auto [userName, password] = config_.CurrentCredentials();
    std::map<std::string, std::string> params{{"userName", userName},
                                              {"password", core::Md5Hex(password)},
                                              {"oemId", "1"},
                                              {"ver", "1.1.1"}};
    bool answered = RunSync(slot, std::move(params), timing_.requestTimeoutMs,
                            CopyingHandler(slot, {"userId", "updateUrl", "activeTime", "uploadUrl", "enableList",
                                                  "showMsg"}));
    auto [status, reply] = TakeReply(slot);
    slot.event.Reset();
    if (!answered) return 0;
    if (status == 1 || status == 2) {
        // Replaced as a whole: the keep-alive's re-login runs while other threads read it.
        core::LoginSession session;
        session.userId = reply["userId"];
        session.updateUrl = reply["updateUrl"];
        session.uploadUrl = reply["uploadUrl"];
        session.noticeText = reply["showMsg"];
        session.loginUserName = userName;
        session.loginPassword = password;
        const std::string& enabled = reply["enableList"];
        static constexpr const char* kSwitches[4] = {"101", "102", "103", "104"};
        for (int k = 0; k < 4; ++k) session.featureSwitches[k] = enabled.find(kSwitches[k]) != std::string::npos;
        session.accountKind = status;
        config_.SetSession(std::move(session));
        loggedIn_ = true;
    }
    return status;
}

bool ControlClient::FetchCameraList(CameraListReply& out) {
    SyncRequestSlot& slot = *listSlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    // Chunks are joined with ";". Whether a chunk came before is counted, not read off
    // the camera-id list: a first chunk of a single node has an empty camera-id list,
    // and joining without ";" would shift every later row.
    Handler handler = [this, &slot](const ControlMessage& reply) {
        bool end;
        {
            std::lock_guard lock(slot.mutex);
            if (!listWaiting_ || listOverflow_) return;  // nobody waits for it (any more)
            std::size_t added = 0;
            for (const char* key : CameraListReply::kKeys) added += reply.Param(key).size() + 1;
            if (listBytes_ + added > timing_.listLimitBytes) {
                // A list beyond any real account: the request fails rather than
                // holding ever more memory or showing a cut list.
                listOverflow_ = true;
                end = true;
            } else {
                listBytes_ += added;
                slot.status = std::atoi(reply.Param("status").c_str());
                for (const char* key : CameraListReply::kKeys) {
                    std::string& list = slot.reply[key];
                    if (listChunks_ > 0) list += ';';
                    list += reply.Param(key);
                }
                ++listChunks_;
                end = std::atoi(reply.Param("end").c_str()) == 1;
            }
        }
        if (end) slot.event.Set();
    };
    ResetSlot(slot);
    {
        std::lock_guard lock(slot.mutex);
        listChunks_ = 0;
        listBytes_ = 0;
        listOverflow_ = false;
        listWaiting_ = true;
    }
    slot.request.params = {{"userId", config_.UserId()}};
    const bool answered = SendMessage(slot.request, handler) && WaitForReply(slot, timing_.listTimeoutMs);
    bool overflow;
    {
        std::lock_guard lock(slot.mutex);
        listWaiting_ = false;
        overflow = listOverflow_;
    }
    auto [status, reply] = TakeReply(slot);
    slot.event.Reset();
    if (overflow) core::LogWrite("camera list larger than %zu bytes refused", timing_.listLimitBytes);
    if (!answered || overflow || status != 1) return false;
    for (int i = 0; i < 13; ++i) out.lists[i] = reply[CameraListReply::kKeys[i]];
    return true;
}

namespace {

const std::vector<std::string> kAddressKeys = {"nodeId", "transpondIP", "transpondPort", "transpondStatus", "keyword"};

TransportAddress AddressFromReply(int status, std::map<std::string, std::string>& reply) {
    TransportAddress address;
    address.status = status;
    address.answered = true;
    address.nodeId = reply["nodeId"];
    address.forwardingIp = reply["transpondIP"];
    address.forwardingPort = reply["transpondPort"];
    address.forwardingStatus = reply["transpondStatus"];
    address.keyword = reply["keyword"];
    return address;
}

}  // namespace

TransportAddress ControlClient::RequestForwardingAddress(const std::string& cameraId) {
    SyncRequestSlot& slot = *addressSlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    TransportAddress address;
    ResetSlot(slot);
    slot.request.params = {{"cameraId", cameraId}};
    // This reply carries no node id; the key simply reads as empty.
    const bool sent = SendMessage(slot.request, CopyingHandler(slot, kAddressKeys));
    if (!sent) {
        platform::DebugTrace("向代理请求转发IP和端口 发送指令失败!\n");
    } else if (!WaitForReply(slot, timing_.requestTimeoutMs)) {
        platform::DebugTrace("向代理请求转发IP和端口超时!\n");
    } else {
        auto [status, reply] = TakeReply(slot);
        address = AddressFromReply(status, reply);
        address.nodeId.clear();
    }
    ResetSlot(slot);
    return address;
}

TransportAddress ControlClient::RequestForwardingAddressWithNode(const std::string& cameraId) {
    SyncRequestSlot& slot = *addressWithNodeSlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    TransportAddress address;
    if (RunSync(slot, {{"cameraId", cameraId}}, timing_.requestTimeoutMs, CopyingHandler(slot, kAddressKeys))) {
        auto [status, reply] = TakeReply(slot);
        address = AddressFromReply(status, reply);
    }
    ResetSlot(slot);
    return address;
}

RemotePlaybackReply ControlClient::RequestRemotePlayback(const std::string& cameraId, const std::string& startTime,
                                                         const std::string& endTime) {
    SyncRequestSlot& slot = *playbackSlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    RemotePlaybackReply result;
    if (RunSync(slot, {{"cameraId", cameraId}, {"startTime", startTime}, {"endTime", endTime}},
                timing_.requestTimeoutMs,
                CopyingHandler(slot, {"playbackId", "transpondIP", "transpondPort", "timeQuantum"}))) {
        auto [status, reply] = TakeReply(slot);
        result.status = status;
        result.playbackId = reply["playbackId"];
        result.forwardingIp = reply["transpondIP"];
        result.forwardingPort = reply["transpondPort"];
        result.timeQuantum = reply["timeQuantum"];
    }
    ResetSlot(slot);
    return result;
}

AlarmRecord ControlClient::MakeAlarmRecord(const std::string& uploadUrl, const std::string& nodeId,
                                           const std::string& nodeName, const std::string& cameraId,
                                           const std::string& cameraName, const std::string& kindName,
                                           const std::string& message, const std::string& picture,
                                           const std::string& time) {
    return AlarmRecord{nodeId,  nodeName, cameraId, cameraName, kindName,
                       message, picture.empty() ? std::string() : uploadUrl + picture, time};
}

bool ControlClient::SearchAlarms(const std::string& startTime, const std::string& endTime, const std::string& nodeId,
                                 const std::string& cameraId, AlarmSearchResult& out) {
    std::lock_guard searchLock(alarmSearchMutex_);
    SyncRequestSlot& slot = *alarmSlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    static const std::vector<std::string> kKeys = {"nodeIdList",   "nodeNameList", "cameraIdList", "cameraNameList",
                                                   "kindNameList", "msgList",      "pictureList",  "datetimeList"};
    std::map<std::string, std::string> params{{"startTime", startTime}, {"endTime", endTime}, {"nodeId", nodeId}};
    if (!cameraId.empty()) params["cameraId"] = cameraId;
    const bool answered = RunSync(slot, std::move(params), timing_.requestTimeoutMs, CopyingHandler(slot, kKeys));
    auto [status, reply] = TakeReply(slot);
    ResetSlot(slot);
    if (!answered) return false;

    std::vector<std::vector<std::string>> lists;
    for (const std::string& key : kKeys) lists.push_back(SplitList(reply[key]));
    std::size_t rows = lists[0].size();
    for (const auto& list : lists) rows = std::min(rows, list.size());
    const std::string uploadUrl = config_.UploadUrl();
    for (std::size_t i = 0; i < rows; ++i) {
        // Rows end at the first one missing an identifying text; picture and time may be empty.
        bool complete = true;
        for (int k = 0; k < 6; ++k) complete = complete && !lists[k][i].empty();
        if (!complete) break;
        out.Append(MakeAlarmRecord(uploadUrl, lists[0][i], lists[1][i], lists[2][i], lists[3][i],
                                   lists[4][i], lists[5][i], lists[6][i], lists[7][i]));
    }
    return true;
}

bool ControlClient::RequestAuthorityList(std::string& out) {
    SyncRequestSlot& slot = *authoritySlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    Handler handler = [&slot](const ControlMessage& reply) {
        {
            std::lock_guard lock(slot.mutex);
            slot.reply = reply.params;  // flattened by the decoder when accepted
            slot.status = AuthorityGranted(reply.Param("status")) ? 1 : 0;
        }
        slot.event.Set();
    };
    const bool answered = RunSync(slot, {}, timing_.requestTimeoutMs, handler);
    auto [status, reply] = TakeReply(slot);
    ResetSlot(slot);
    out.clear();
    // A refused reply still names authorities (as list text): it grants none of them.
    if (!answered || status != 1) return false;
    for (const auto& [key, value] : reply) out += value + ";";  // std::map: ascending key order
    return true;
}

void ControlClient::InstallAlarmPushHandler(std::function<void(const AlarmRecord&)> listener) {
    SetDefaultHandler([this, listener = std::move(listener)](const ControlMessage& message) {
        if (message.msgType != kAlarmPushType) return;
        AlarmRecord record = MakeAlarmRecord(config_.UploadUrl(), message.Param("nodeId"), message.Param("nodeName"),
                                             message.Param("cameraId"), message.Param("cameraName"),
                                             message.Param("kindName"), message.Param("msg"), message.Param("picture"),
                                             message.Param("time"));
        if (listener) listener(record);
    });
}

}  // namespace control
