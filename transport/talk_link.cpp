#include "transport/talk_link.h"

#include <cstdlib>

#include "core/log_file.h"
#include "platform/tick.h"
#include "platform/numbers.h"

namespace transport {

bool IsStaleTalkAudio(std::uint64_t timestamp, std::uint64_t start) {
    // Stamps that fit 32 bits are millisecond ticks: compared wrap-safe, so a talk
    // across the tick's wrap keeps its voice.
    if ((timestamp | start) >> 32 == 0)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(timestamp) - static_cast<std::uint32_t>(start)) < 0;
    return timestamp < start;
}

TalkLink::TalkLink(PacketQueue& talkAudio, AddressProvider addresses, LinkTiming timing)
    : ForwardingLink(std::move(addresses), timing), talkAudio_(talkAudio) {
    StartSupervision();
}

TalkLink::~TalkLink() {
    StopSupervision();
    Close();
}

int TalkLink::Open(const std::string& cameraId, const std::string& address, int port, const std::string& password) {
    return OpenIn(BeginSession(), cameraId, address, port, password);
}

int TalkLink::OpenIn(std::uint64_t session, const std::string& cameraId, const std::string& address, int port,
                     const std::string& password) {
    const int result = ConnectAndOpen(session, cameraId, address, port, password,
                                      {{"nodeId", cameraId}, {"pwd", password}, {"major", "1"}, {"minor", "0"}}, -4);
    std::lock_guard lock(talkIdMutex_);
    if (result == 1) {
        std::lock_guard waiterLock(openWaiter_.mutex);
        talkId_ = openWaiter_.reply["TalkId"];
    } else {
        talkId_.clear();
    }
    return result;
}

bool TalkLink::Command(int code, bool value) {
    // A new talk: its first voice fixes the start again.
    if (code == kOpenVoice) talkStarted_ = false;
    std::map<std::string, std::string> reply;
    if (!SendAndWait(commandWaiter_, code, false, {}, reply) || reply["result"] != "1") return false;
    talkActive_ = value;
    return true;
}

void TalkLink::Heartbeat() { SendCommand(0, true); }

std::string TalkLink::TalkId() const {
    std::lock_guard lock(talkIdMutex_);
    return talkId_;
}

long TalkLink::SendTalkAudio(const std::uint8_t* message, std::size_t length) {
    return SendRawMessage(message, length);
}

void TalkLink::MarkHeartbeatReply() { lastHeartbeatReply_ = platform::TickCount(); }

void TalkLink::OnControl(const control::ControlMessage& message) {
    switch (message.msgType) {
        case 1005:
        case 1006:
            commandWaiter_.Complete({{"result", message.Param("result")}});
            break;
        default:
            break;
    }
}

void TalkLink::OnMedia(const std::uint8_t* body, std::size_t length) {
    if (length < kPacketHeaderSize || ReadLe16(body) != kTalkAudioPacket || !talkActive_) return;
    // The first voice of a talk fixes its start; whatever comes later stamped before
    // it (late voice of an earlier talk, or out of order) is stale. Which clock the
    // camera stamps with is its own, so the start is taken from its stamps.
    const std::uint64_t timestamp = ReadLe64(body + 4);
    if (!talkStarted_.exchange(true)) {
        talkStartTimestamp_ = timestamp;
    } else if (IsStaleTalkAudio(timestamp, talkStartTimestamp_)) {
        return;
    }
    PacketQueue::Record record = talkAudio_.TakeFree();
    record->Store(body, length, nullptr, 0);
    talkAudio_.Push(std::move(record), false);
}

void TalkLink::Supervise() {
    if (platform::TickSince(lastHeartbeatReply_) > timing_.silenceMs) {
        const std::uint64_t session = Session();  // a Close meanwhile ends the reopen
        const Identity identity = GetIdentity();
        const control::TransportAddress address =
            addresses_ ? addresses_(identity.cameraId) : control::TransportAddress{};
        if (!InSession(session, [&] { lastHeartbeatReply_ = platform::TickCount(); })) return;
        const int result = OpenIn(session, identity.cameraId, address.forwardingIp,
                                  platform::ParsePort(address.forwardingPort), identity.password);
        if (!InSession(session, [&] {
                if (result == 0) connected_ = false;
                opened_ = true;
            }))
            return;
        if (result != 0)
            core::LogWrite("Reconnect sxtId %s succ.nStatus %d.\n", identity.cameraId.c_str(), result);
        else
            core::LogWrite("Reconnect sxtId %s false.nStatus %d.\n", identity.cameraId.c_str(), result);
        return;
    }
    if (platform::TickSince(supervision_.StartTick()) > timing_.heartbeatStartMs) Heartbeat();
}

}  // namespace transport
