// The requests whose replies the caller waits for, and the records built from them.
#include <algorithm>
#include <iterator>

#include "core/log_file.h"
#include "core/md5.h"
#include "control/control_client.h"
#include "control/replies.h"
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

}  // namespace

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
            slot.status = ReplyStatus(reply.params);
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
    if (auto session = SessionFromLoginReply(status, reply, userName, password)) {
        // Replaced as a whole: the keep-alive's re-login runs while other threads read it.
        config_.SetSession(std::move(*session));
        loggedIn_ = true;
    }
    return status;
}

bool ControlClient::FetchCameraList(CameraListReply& out) {
    SyncRequestSlot& slot = *listSlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    Handler handler = [this, &slot](const ControlMessage& reply) {
        CameraListAssembly::Step step;
        {
            std::lock_guard lock(slot.mutex);
            if (!listAssembly_) return;  // nobody waits for it (any more)
            step = listAssembly_->Add(reply.params);
        }
        if (step != CameraListAssembly::Step::kMore) slot.event.Set();
    };
    ResetSlot(slot);
    {
        std::lock_guard lock(slot.mutex);
        listAssembly_ = std::make_unique<CameraListAssembly>(timing_.listLimitBytes);
    }
    slot.request.params = {{"userId", config_.UserId()}};
    const bool answered = SendMessage(slot.request, handler) && WaitForReply(slot, timing_.listTimeoutMs);
    std::unique_ptr<CameraListAssembly> assembly;
    {
        std::lock_guard lock(slot.mutex);
        assembly = std::move(listAssembly_);
    }
    ResetSlot(slot);
    // A list beyond any real account fails rather than showing a cut one.
    if (assembly->Overflowed()) core::LogWrite("camera list larger than %zu bytes refused", timing_.listLimitBytes);
    if (!answered || assembly->Overflowed() || assembly->Status() != 1) return false;
    out = assembly->Lists();
    return true;
}

namespace {

const std::vector<std::string> kAddressKeys(std::begin(kAddressReplyKeys), std::end(kAddressReplyKeys));

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

bool ControlClient::SearchAlarms(const std::string& startTime, const std::string& endTime, const std::string& nodeId,
                                 const std::string& cameraId, AlarmSearchResult& out) {
    std::lock_guard searchLock(alarmSearchMutex_);
    SyncRequestSlot& slot = *alarmSlot_;
    std::lock_guard caller(slot.caller);  // one request of a type at a time
    static const std::vector<std::string> kKeys(std::begin(kAlarmListKeys), std::end(kAlarmListKeys));
    std::map<std::string, std::string> params{{"startTime", startTime}, {"endTime", endTime}, {"nodeId", nodeId}};
    if (!cameraId.empty()) params["cameraId"] = cameraId;
    const bool answered = RunSync(slot, std::move(params), timing_.requestTimeoutMs, CopyingHandler(slot, kKeys));
    auto [status, reply] = TakeReply(slot);
    ResetSlot(slot);
    if (!answered) return false;

    AppendAlarmRows(reply, config_.UploadUrl(), out);
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
    out = AuthorityListText(reply);
    return true;
}

void ControlClient::InstallAlarmPushHandler(std::function<void(const AlarmRecord&)> listener) {
    SetDefaultHandler([this, listener = std::move(listener)](const ControlMessage& message) {
        if (message.msgType != kAlarmPushType) return;
        const AlarmRecord record = AlarmFromPush(message, config_.UploadUrl());
        if (listener) listener(record);
    });
}

}  // namespace control
