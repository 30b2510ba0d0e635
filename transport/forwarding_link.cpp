#include "transport/forwarding_link.h"
#include "transport/received_bytes.h"

#include "platform/tick.h"
#include "platform/numbers.h"

namespace transport {

void ForwardingLink::Waiter::Reset() {
    event.Reset();
    std::lock_guard lock(mutex);
    reply.clear();
}

void ForwardingLink::Waiter::Complete(const std::map<std::string, std::string>& params) {
    {
        std::lock_guard lock(mutex);
        reply = params;
    }
    event.Set();
}

bool ForwardingLink::Waiter::Wait(std::uint32_t timeoutMs, std::map<std::string, std::string>& out) {
    if (!event.Wait(timeoutMs)) return false;
    std::lock_guard lock(mutex);
    out = reply;
    return true;
}

ForwardingLink::ForwardingLink(AddressProvider addresses, LinkTiming timing)
    : timing_(timing), addresses_(std::move(addresses)) {}

ForwardingLink::~ForwardingLink() {
    StopSupervision();
    Close();
}

void ForwardingLink::StartSupervision() {
    supervision_.Start([this](core::ThreadWrapper& self) {
        while (!self.WaitForStop(timing_.superviseWakeMs)) {
            self.Beat();
            if (opened_ && (connected_ || reopenPending_)) Supervise();
        }
    });
}

void ForwardingLink::StopSupervision() { supervision_.Stop(); }

void ForwardingLink::Close() {
    tether::ConnectionHandle old;
    {
        std::lock_guard lock(connectionMutex_);
        ++session_;
        opened_ = false;
        connected_ = false;
        reopenPending_ = false;
        old = handle_;
        handle_ = 0;
    }
    if (old) tether::Close(old);
    // An Open waiting for its reply belongs to the session just ended: it returns now
    // instead of after the reply time-out.
    openWaiter_.Complete({});
}

std::uint64_t ForwardingLink::BeginSession() {
    std::lock_guard lock(connectionMutex_);
    reopenPending_ = false;
    return ++session_;
}

std::uint64_t ForwardingLink::Session() const {
    std::lock_guard lock(connectionMutex_);
    return session_;
}

int ForwardingLink::ConnectAndOpen(std::uint64_t session, const std::string& cameraId, const std::string& address,
                                   int port, const std::string& password, std::map<std::string, std::string> params,
                                   int noReplyResult) {
    if (cameraId.empty() || address.empty() || port == 0) return -7;
    tether::ConnectionHandle handle = 0;
    if (!InSession(session, [&] {
            handle = handle_;
            handle_ = 0;
            connected_ = false;
        }))
        return -4;
    if (!tether::ConnectInto(handle, address.c_str(), port, &ForwardingLink::OnTetherReceive, this,
                             timing_.connectTimeoutMs))
        return -4;
    const bool current = InSession(session, [&] {
        handle_ = handle;
        {
            std::lock_guard identityLock(identityMutex_);
            identity_ = Identity{address, port, cameraId, password};
        }
        connected_ = true;
    });
    if (!current) {
        tether::Close(handle);  // closed while connecting: this connection must not survive
        return -4;
    }

    std::map<std::string, std::string> reply;
    if (!SendAndWait(openWaiter_, 1, true, params, reply)) return InSession(session) ? noReplyResult : -4;
    const std::string& result = reply["result"];
    bool opened = false;
    if (!InSession(session, [&] {
            const std::uint32_t now = platform::TickCount();
            lastHeartbeatReply_ = now;
            lastData_ = now;
            opened_ = opened = result == "1";
        }))
        return -4;
    if (opened) return 1;
    // A refusal keeps its code but never reads as success: " 1" or "4294967297" is not "1".
    const int code = platform::ParseInt(result);
    return code == 1 ? 0 : code;
}

bool ForwardingLink::SendCommand(int msgType, bool tickId, const std::map<std::string, std::string>& params) {
    if (!connected_) return false;
    control::ControlMessage message;
    message.id = tickId ? static_cast<std::int32_t>(platform::TickCount()) : 0;
    message.msgType = msgType;
    message.realm = kLinkRealm;
    message.params = params;
    const std::string wire = control::EncodeRequest(message);
    return SendRawMessage(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()) > 0;
}

long ForwardingLink::SendRawMessage(const std::uint8_t* message, std::size_t length) {
    tether::ConnectionHandle handle;
    {
        std::lock_guard lock(connectionMutex_);
        handle = handle_;
    }
    if (!handle) return -1;
    return tether::Send(handle, message, static_cast<long>(length), false);
}

bool ForwardingLink::SendAndWait(Waiter& waiter, int msgType, bool tickId,
                                 const std::map<std::string, std::string>& params,
                                 std::map<std::string, std::string>& reply) {
    waiter.Reset();
    if (!SendCommand(msgType, tickId, params)) return false;
    return waiter.Wait(timing_.replyTimeoutMs, reply);
}

std::string ForwardingLink::CameraId() const {
    std::lock_guard lock(identityMutex_);
    return identity_.cameraId;
}

ForwardingLink::Identity ForwardingLink::GetIdentity() const {
    std::lock_guard lock(identityMutex_);
    return identity_;
}

void ForwardingLink::MarkData() { lastData_ = platform::TickCount(); }

void ForwardingLink::OnTetherReceive(int status, const char* data, int length, void* user) {
    static_cast<ForwardingLink*>(user)->Receive(status, reinterpret_cast<const std::uint8_t*>(data),
                                                length > 0 ? static_cast<std::size_t>(length) : 0);
}

void ForwardingLink::Receive(int status, const std::uint8_t* data, std::size_t length) {
    if (status < 0) {
        if (observer_) observer_->OnConnectionLost();
        return;
    }
    if (data == nullptr || length == 0) return;
    ReceivedByteCounter().fetch_add(length, std::memory_order_relaxed);
    switch (data[0]) {
        case kLinkControl: {
            auto message = control::DecodeMessage(reinterpret_cast<const char*>(data), length);
            if (!message || message->realm != kLinkRealm) break;
            if (message->msgType == 0) {
                lastHeartbeatReply_ = platform::TickCount();
            } else if (message->msgType == 1) {
                openWaiter_.Complete(message->params);  // wakes the opener
            } else {
                OnControl(*message);
            }
            break;
        }
        case kLinkCompactVideo:
            OnCompactVideo(data + 1, length - 1);
            break;
        case kLinkMedia:
            // The final byte of a media message is not part of its body.
            if (length >= 2) OnMedia(data + 1, length - 2);
            break;
        default:
            break;
    }
}

}  // namespace transport
