#include "control/control_client.h"
#include "core/message_ids.h"
#include "control/sync_request_slot.h"

#include <cstdio>
#include <cstdlib>

#include "core/log_file.h"
#include "platform/tick.h"
#include "platform/numbers.h"

namespace control {
namespace {

constexpr int kRenewalType = 74;

std::mutex g_instanceMutex;
std::shared_ptr<ControlClient> g_instance;
ControlClient::Timing g_timingForNewClients;

std::mutex g_genericIdMutex;
std::int32_t g_lastGenericId = 0;

}  // namespace

std::int32_t NextGenericId(std::int32_t current) { return current < 0x7FFFFFF9 ? current + 1 : 1; }

std::shared_ptr<ControlClient> ControlClient::Shared() {
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) g_instance = std::make_shared<ControlClient>(g_timingForNewClients);
    return g_instance;
}

std::shared_ptr<ControlClient> ControlClient::Current() {
    std::lock_guard lock(g_instanceMutex);
    return g_instance;
}

void ControlClient::Destroy() {
    std::shared_ptr<ControlClient> doomed;
    {
        std::lock_guard lock(g_instanceMutex);
        doomed = std::move(g_instance);
    }
    // Threads may still wait inside a request (task threads, the supervisor, a tree
    // refresh, an alarm search): they return at once, and the last of them frees it.
    if (doomed) doomed->Shutdown();
}

bool ControlClient::Exists() {
    std::lock_guard lock(g_instanceMutex);
    return g_instance != nullptr;
}

void ControlClient::SetTimingForNewClients(const Timing& timing) {
    std::lock_guard lock(g_instanceMutex);
    g_timingForNewClients = timing;
}

ControlClient::~ControlClient() { Shutdown(); }

void ControlClient::Shutdown() {
    {
        std::lock_guard lock(connectionMutex_);  // a Connect in progress sees it before it stores its handle
        shutDown_ = true;
    }
    shutDownEvent_.Set();
    keepAlive_.Stop();
    CloseConnection();
}

void ControlClient::CloseConnection() {
    tether::ConnectionHandle old;
    {
        std::lock_guard lock(connectionMutex_);
        old = handle_;
        handle_ = 0;
    }
    connected_ = false;
    // Outside the lock: Close waits for a running callback, which may itself be
    // waiting for a window whose thread wants to send.
    if (old) tether::Close(old);
}

void ControlClient::DropConnection() { CloseConnection(); }

int ControlClient::Connect() {
    CloseConnection();
    if (shutDown_) return -1;
    int result = 0;
    for (const std::string& server : config_.serverList) {
        if (shutDown_) return -1;  // no more lookups for a client that is going
        char url[2048];
        std::snprintf(url, sizeof url, "http://%s:%d%s_%s", server.c_str(), config_.serverPort,
                      config_.serverPath.c_str(), config_.currentUserName.c_str());
        CMasterHttp http(timing_.http);
        std::map<std::string, std::string> answer;
        if (!http.MasterLookup(url, answer)) {
            result = -1;
            continue;
        }
        const std::string& ip = answer["ip"];
        const std::string& port = answer["port"];
        if (answer["status"] != "IDEL" || ip.empty() || port.empty()) continue;
        for (int attempt = 0; attempt < timing_.proxyConnectAttempts; ++attempt) {
            {
                // Every earlier connection is closed by now and reports nothing more.
                std::lock_guard lock(connectionMutex_);
                connectionLost_ = false;
            }
            tether::ConnectionHandle handle = 0;
            if (!tether::ConnectInto(handle, ip.c_str(), platform::ParsePort(port), &ControlClient::OnReceive, this,
                                     timing_.proxyConnectTimeoutMs))
                continue;
            bool usable = false;
            {
                // Taken with the lock the loss report takes: a connection lost before
                // this point is not counted as connected.
                std::lock_guard lock(connectionMutex_);
                usable = !connectionLost_ && !shutDown_;
                if (usable) {
                    handle_ = handle;
                    lastAliveTick_ = platform::TickCount();
                    connected_ = true;
                }
            }
            if (usable) return 0;
            tether::Close(handle);
            if (shutDown_) return -1;
        }
        result = -2;
    }
    core::LogWrite("link control error");
    // No master gave a usable answer (every one answered with another status or an
    // empty address): that is a master-server failure, not success.
    return result == 0 ? -1 : result;
}

bool ControlClient::SendMessage(const ControlMessage& message, const Handler& handler) {
    if (!connected_ || shutDown_) return false;
    std::lock_guard lock(sendMutex_);
    if (handler) RegisterHandler(message.msgType, handler);
    const std::string json = EncodeJson(message);
    if (json.size() + 1 > kSendBufferSize) return false;  // never past the buffer
    sendBuffer_[0] = static_cast<char>(kRequestTypeByte);
    std::copy(json.begin(), json.end(), sendBuffer_.begin() + 1);
    tether::ConnectionHandle handle;
    {
        std::lock_guard connectionLock(connectionMutex_);
        handle = handle_;
    }
    if (tether::Send(handle, sendBuffer_.data(), static_cast<long>(json.size() + 1), false) <= 0) {
        core::LogWrite("send to control command error");
        return false;
    }
    return true;
}

std::int32_t ControlClient::SendGenericRequest(int msgType, const std::map<std::string, std::string>& params) {
    ControlMessage message;
    {
        std::lock_guard lock(g_genericIdMutex);
        g_lastGenericId = NextGenericId(g_lastGenericId);
        message.id = g_lastGenericId;
    }
    message.msgType = msgType;
    message.realm = 1;
    message.params = params;
    return SendMessage(message) ? message.id : 0;
}

void ControlClient::RegisterHandler(int msgType, Handler handler) {
    std::lock_guard lock(dispatchMutex_);
    handlers_[msgType] = std::move(handler);
}

void ControlClient::SubscribeRenewal(platform::WindowHandle window) {
    std::lock_guard lock(dispatchMutex_);
    auto& list = subscribers_[kRenewalType];
    auto copy = list ? std::make_shared<std::vector<platform::WindowHandle>>(*list)
                     : std::make_shared<std::vector<platform::WindowHandle>>();
    copy->push_back(window);
    list = copy;
}

void ControlClient::UnsubscribeRenewal(platform::WindowHandle window) {
    std::lock_guard lock(dispatchMutex_);
    auto it = subscribers_.find(kRenewalType);
    if (it == subscribers_.end() || !it->second) return;
    auto copy = std::make_shared<std::vector<platform::WindowHandle>>(*it->second);
    std::erase(*copy, window);
    it->second = copy;
}

void ControlClient::InstallNotificationCallback(NotificationCallback callback, void* user) {
    std::lock_guard lock(dispatchMutex_);
    notify_ = std::move(callback);
    notifyUser_ = user;
}

void ControlClient::OnReceive(int status, const char* data, int length, void* user) {
    static_cast<ControlClient*>(user)->Route(status, data, length);
}

void ControlClient::Route(int status, const char* data, int length) {
    if (status < 0) {
        std::lock_guard lock(connectionMutex_);
        connectionLost_ = true;
        connected_ = false;
        return;
    }
    std::optional<ControlMessage> message = DecodeMessage(data, static_cast<std::size_t>(length));
    if (!message) return;

    std::shared_ptr<std::vector<platform::WindowHandle>> windows;
    Handler handler;
    NotificationCallback notify;
    void* notifyUser = nullptr;
    {
        std::lock_guard lock(dispatchMutex_);
        if (auto it = subscribers_.find(message->msgType); it != subscribers_.end()) windows = it->second;
        auto handlerIt = handlers_.find(message->msgType);
        if (handlerIt == handlers_.end()) handlerIt = handlers_.find(kDefaultHandlerKey);
        if (handlerIt != handlers_.end()) handler = handlerIt->second;
        notify = notify_;
        notifyUser = notifyUser_;
    }
    // Windows get their copies without the dispatch lock held: a window's thread may
    // be waiting for that lock to unsubscribe.
    if (windows) {
        for (platform::WindowHandle window : *windows) {
            if (window == 0) continue;
            platform::SendWindowMessage(window,
                                        platform::Message(core::kControlReply, 0, 1, platform::MakePayload(*message)));
        }
    }
    if (handler) handler(*message);
    if (notify) notify(message->id, message->msgType, message->params, notifyUser);
}

void ControlClient::KeepAlive(core::ThreadWrapper& self) {
    while (!self.WaitForStop(timing_.keepAliveWakeMs)) {
        self.Beat();
        if (!loggedIn_ || shutDown_) continue;
        if (connected_) {
            const std::uint32_t silent = platform::TickSince(lastAliveTick_);
            if (silent > timing_.heartbeatAfterMs)
                SendMessage(heartbeat_, [this](const ControlMessage&) { lastAliveTick_ = platform::TickCount(); });
            if (silent > timing_.downAfterMs) connected_ = false;
        } else if (Connect() == 0) {
            if (Login() == 0) connected_ = false;
        }
    }
}

}  // namespace control
