#pragma once
// What the video link and the talk link share: one Tether connection to a forwarding
// server carrying realm-2 control messages and media, the open handshake, commands
// that wait for their reply, and a supervision thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "core/thread_wrapper.h"
#include "control/control_message.h"
#include "control/control_types.h"
#include "libs/tether/tether.h"
#include "platform/sync.h"

namespace transport {

struct LinkTiming {
    std::uint32_t superviseWakeMs = 1000;
    std::uint32_t heartbeatStartMs = 2000;  // the talk link uses 3000
    std::uint32_t silenceMs = 10000;
    std::uint32_t replyTimeoutMs = 5000;
    int connectTimeoutMs = tether::kConnectTimeoutMs;
};

// How a link tells its camera about events it cannot handle itself.
class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    // The connection broke; the supervision will recover it.
    virtual void OnConnectionLost() {}
    // The server stopped the camera (msgType 7).
    virtual void OnServerStop() {}
    // The control server named a (new) forwarding address for the camera.
    virtual void OnForwardingAddress(const std::string& cameraId, const std::string& ip, int port) {}
};

// Asks the control server where a camera's forwarding server is now.
using AddressProvider = std::function<control::TransportAddress(const std::string& cameraId)>;

constexpr std::int32_t kLinkRealm = 2;
enum LinkMessageType : std::uint8_t { kLinkControl = 0, kLinkCompactVideo = 1, kLinkMedia = 2 };

class ForwardingLink {
public:
    virtual ~ForwardingLink();
    ForwardingLink(const ForwardingLink&) = delete;
    ForwardingLink& operator=(const ForwardingLink&) = delete;

    void SetObserver(LinkObserver* observer) { observer_ = observer; }
    // Clears opened and connected and closes the connection.
    void Close();
    bool IsOpened() const { return opened_; }
    bool IsConnected() const { return connected_; }
    std::string CameraId() const;

    // One received message as the connection library delivers it (also the entry
    // point for tests and fuzzing).
    void Receive(int status, const std::uint8_t* data, std::size_t length);

protected:
    ForwardingLink(AddressProvider addresses, LinkTiming timing);

    // Starts the supervision thread; called by the concrete link's constructor.
    void StartSupervision();
    // Stops it; the concrete link's destructor calls this first.
    void StopSupervision();

    // Every Close and every caller's Open starts a new session. A reopen by the
    // supervision belongs to the session it began in: once that session has ended (the
    // link was closed or opened anew meanwhile) it gives up and leaves the link alone.
    std::uint64_t BeginSession();
    std::uint64_t Session() const;
    // Runs `change` under the connection lock if `session` is still the current one.
    template <typename Change>
    bool InSession(std::uint64_t session, Change change) {
        std::lock_guard lock(connectionMutex_);
        if (session != session_) return false;
        change();
        return true;
    }
    bool InSession(std::uint64_t session) {
        return InSession(session, [] {});
    }

    // Connects and sends command 1 with `params`; the open reply decides the result.
    // -4 (and nothing changed) when `session` ended meanwhile.
    int ConnectAndOpen(std::uint64_t session, const std::string& cameraId, const std::string& address, int port,
                       const std::string& password, std::map<std::string, std::string> params, int noReplyResult);
    bool SendCommand(int msgType, bool tickId, const std::map<std::string, std::string>& params = {});
    // Sends an already framed link message; the connection library's result.
    long SendRawMessage(const std::uint8_t* message, std::size_t length);

    // A command whose reply the caller waits for.
    struct Waiter {
        platform::Event event{false, false};
        std::mutex mutex;
        std::map<std::string, std::string> reply;
        void Reset();
        void Complete(const std::map<std::string, std::string>& params);
        bool Wait(std::uint32_t timeoutMs, std::map<std::string, std::string>& out);
    };
    // Sends and waits for the reply of `replyType`; false when it cannot be sent or no reply came.
    bool SendAndWait(Waiter& waiter, int msgType, bool tickId, const std::map<std::string, std::string>& params,
                     std::map<std::string, std::string>& reply);

    // Control messages other than heartbeat (0) and open (1) replies.
    virtual void OnControl(const control::ControlMessage& message) = 0;
    virtual void OnCompactVideo(const std::uint8_t* body, std::size_t length) {}
    virtual void OnMedia(const std::uint8_t* body, std::size_t length) = 0;
    // One supervision step while opened and connected.
    virtual void Supervise() = 0;

    void MarkData();

    const LinkTiming timing_;
    const AddressProvider addresses_;
    LinkObserver* observer_ = nullptr;

    std::atomic<bool> connected_{false};
    std::atomic<bool> opened_{false};
    // A reopen by the supervision could not connect (the server was down): the link is
    // not connected, yet the supervision goes on and tries again after the next
    // silence. Cleared by every Close and Open.
    std::atomic<bool> reopenPending_{false};
    std::atomic<std::uint32_t> lastHeartbeatReply_{0};
    std::atomic<std::uint32_t> lastData_{0};
    // What the last Open used; the supervision reopens with it.
    struct Identity {
        std::string address;
        int port = 0;
        std::string cameraId;
        std::string password;
    };
    Identity GetIdentity() const;

    mutable std::mutex identityMutex_;
    Identity identity_;
    Waiter openWaiter_;
    core::ThreadWrapper supervision_;

private:
    static void OnTetherReceive(int status, const char* data, int length, void* user);

    mutable std::mutex connectionMutex_;  // before identityMutex_
    tether::ConnectionHandle handle_ = 0;
    std::uint64_t session_ = 0;
};

// Little-endian reads from received bytes.
inline std::uint16_t ReadLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t ReadLe64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(ReadLe32(p)) | (static_cast<std::uint64_t>(ReadLe32(p + 4)) << 32);
}

}  // namespace transport
