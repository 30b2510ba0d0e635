#pragma once
// The client end of the persistent control connection to the proxy server: the master
// lookup that names the proxy, the connection, request ids, routing of replies to
// handlers, subscribed windows and the notification callback, the keep-alive with
// automatic reconnection, and the requests whose replies callers wait for.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/app_config.h"
#include "core/thread_wrapper.h"
#include "control/control_message.h"
#include "control/control_types.h"
#include "control/master_http.h"
#include "control/replies.h"
#include "libs/tether/tether.h"
#include "platform/sync.h"
#include "platform/window_handles.h"

namespace control {

// Generic request ids count up and restart at 1 after 0x7FFFFFF9.
std::int32_t NextGenericId(std::int32_t current);

class ControlClient {
public:
    using Handler = std::function<void(const ControlMessage&)>;
    using NotificationCallback =
        std::function<void(std::int64_t id, int msgType, const std::map<std::string, std::string>& params, void* user)>;

    struct Timing {
        std::uint32_t keepAliveWakeMs = 1000;
        std::uint32_t heartbeatAfterMs = 10000;
        std::uint32_t downAfterMs = 20000;
        int proxyConnectAttempts = 3;
        int proxyConnectTimeoutMs = tether::kConnectTimeoutMs;
        std::uint32_t requestTimeoutMs = 10000;
        std::uint32_t listTimeoutMs = 60000;
        // The camera list as a whole (every chunk's texts together): far above what
        // 10,000 cameras need (about 2 MB), so only a runaway server reaches it.
        std::size_t listLimitBytes = 32 * 1024 * 1024;
        HttpLimits http;
    };

    static constexpr std::size_t kSendBufferSize = 0x300000;
    static constexpr int kDefaultHandlerKey = -1;

    // The process-wide client, created (with its keep-alive thread) on first use.
    // Callers hold it while they use it: it may be destroyed meanwhile by another
    // thread (switch user), and is freed only when the last holder lets it go.
    static std::shared_ptr<ControlClient> Shared();
    // The client if there is one; never creates it.
    static std::shared_ptr<ControlClient> Current();
    // Shuts the client down (see Shutdown) and lets it go; a caller still holding it
    // frees it when done.
    static void Destroy();
    static bool Exists();
    // Timing for clients created from now on (tests shorten the intervals).
    static void SetTimingForNewClients(const Timing& timing);

    explicit ControlClient(const Timing& timing, core::AppConfig& config = core::AppConfig::Instance());
    ~ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // Ends the client's work for good: the keep-alive stops, the connection closes,
    // every request still waiting returns as failed and later ones fail at once.
    void Shutdown();
    bool IsShutDown() const { return shutDown_; }

    // Master lookup, then the proxy connection: 0 connected; -1 no master server gave a
    // usable answer; -2 the proxy named by a master could not be reached.
    int Connect();

    // Sends one message, first registering `handler` (if any) for its msgType.
    bool SendMessage(const ControlMessage& message, const Handler& handler = nullptr);
    // A fire-and-forget request with a fresh id; the id is the result (0 when the
    // request could not be sent, so callers never wait for a reply that cannot come).
    std::int32_t SendGenericRequest(int msgType, const std::map<std::string, std::string>& params);

    void RegisterHandler(int msgType, Handler handler);
    void SetDefaultHandler(Handler handler) { RegisterHandler(kDefaultHandlerKey, std::move(handler)); }
    // Windows that want renewal replies (msgType 74) as blocking 1063 messages.
    void SubscribeRenewal(platform::WindowHandle window);
    void UnsubscribeRenewal(platform::WindowHandle window);
    void InstallNotificationCallback(NotificationCallback callback, void* user);

    bool IsConnected() const { return connected_; }
    bool IsLoggedIn() const { return loggedIn_; }
    // Ends the proxy connection as if it had been lost (keep-alive reconnects).
    void DropConnection();

    // --- Requests whose replies the caller waits for ---
    // Login with the current user of the configuration: 0 on send failure or time-out,
    // otherwise the reply status (1 and 2 are accepted and update the configuration).
    int Login();
    // The camera and node list: true when the final status was 1.
    bool FetchCameraList(CameraListReply& out);
    TransportAddress RequestForwardingAddress(const std::string& cameraId);
    TransportAddress RequestForwardingAddressWithNode(const std::string& cameraId);
    RemotePlaybackReply RequestRemotePlayback(const std::string& cameraId, const std::string& startTime,
                                              const std::string& endTime);
    // One alarm search at a time. An empty camera id searches the whole node.
    bool SearchAlarms(const std::string& startTime, const std::string& endTime, const std::string& nodeId,
                      const std::string& cameraId, AlarmSearchResult& out);
    // Every authority name followed by ";", in name order.
    bool RequestAuthorityList(std::string& out);

    // The handler for pushed alarms (msgType 7), installed as the default handler by
    // the login sequence. The record goes to `listener` when one is set.
    void InstallAlarmPushHandler(std::function<void(const AlarmRecord&)> listener = nullptr);

private:
    struct SyncRequestSlot;

    static void OnReceive(int status, const char* data, int length, void* user);
    void Route(int status, const char* data, int length);
    void KeepAlive(core::ThreadWrapper& self);
    void CloseConnection();
    // Runs one synchronous request in its slot; false on send failure, time-out or
    // shut-down.
    bool RunSync(SyncRequestSlot& slot, std::map<std::string, std::string> params, std::uint32_t timeoutMs,
                 const Handler& handler);
    // Waits for the slot's reply; false on time-out or when the client shuts down.
    bool WaitForReply(SyncRequestSlot& slot, std::uint32_t timeoutMs);
    void ResetSlot(SyncRequestSlot& slot);

    const Timing timing_;
    core::AppConfig& config_;

    std::mutex connectionMutex_;  // guards handle_ and connectionLost_
    tether::ConnectionHandle handle_ = 0;
    // The connection being made reported its loss before it was taken as connected.
    bool connectionLost_ = false;
    std::atomic<bool> shutDown_{false};
    platform::Event shutDownEvent_{true, false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> loggedIn_{false};
    std::atomic<std::uint32_t> lastAliveTick_{0};

    std::mutex dispatchMutex_;
    std::unordered_map<int, Handler> handlers_;
    std::unordered_map<int, std::shared_ptr<std::vector<platform::WindowHandle>>> subscribers_;
    NotificationCallback notify_;
    void* notifyUser_ = nullptr;

    std::mutex sendMutex_;
    std::vector<char> sendBuffer_;

    ControlMessage heartbeat_;
    std::unique_ptr<SyncRequestSlot> loginSlot_, listSlot_, addressSlot_, addressWithNodeSlot_, playbackSlot_,
        alarmSlot_, authoritySlot_;
    std::mutex alarmSearchMutex_;
    // Under the list slot's mutex: the chunks of the list a request waits for (none
    // while nobody waits: chunks arriving then are dropped).
    std::unique_ptr<CameraListAssembly> listAssembly_;

    core::ThreadWrapper keepAlive_;
};

}  // namespace control
