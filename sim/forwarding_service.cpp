#include "sim/forwarding_service.h"

#include <set>
#include <map>
#include <mutex>

#include "libs/tether/tether.h"

namespace sim {

// One forwarding server: a listening port and the sessions of its links.
class ForwardingService::Server {
public:
    explicit Server(ForwardContext& context)
        : context_(context),
          server_(tether::Server::Handlers{
              [this](tether::Server::ConnectionId id, const std::string&) { Accept(id); },
              [this](tether::Server::ConnectionId id, const char* data, std::size_t length) {
                  if (auto session = Find(id))
                      session->OnMessage(reinterpret_cast<const std::uint8_t*>(data), length);
              },
              [this](tether::Server::ConnectionId id) { Remove(id); }}) {}

    ~Server() { Stop(); }

    int Listen(const std::string& address, int port) {
        address_ = address;
        return port_ = server_.Listen(address, port);
    }
    ForwardServer Address() const { return {address_, port_}; }
    void SetAccepting(bool accepting) { server_.SetAccepting(accepting); }

    void Stop() {
        server_.Stop();  // no handler runs after this
        std::map<tether::Server::ConnectionId, std::shared_ptr<ForwardSession>> sessions;
        {
            std::lock_guard lock(mutex_);
            sessions.swap(sessions_);
        }
        sessions.clear();  // each waits for its streaming thread
    }

    std::vector<std::shared_ptr<ForwardSession>> Sessions() const {
        std::lock_guard lock(mutex_);
        std::vector<std::shared_ptr<ForwardSession>> all;
        for (const auto& [id, session] : sessions_) all.push_back(session);
        return all;
    }

private:
    class Sink final : public LinkSink {
    public:
        Sink(tether::Server& server, tether::Server::ConnectionId id) : server_(server), id_(id) {}
        bool Send(const void* data, std::size_t length) override { return server_.Send(id_, data, length); }
        void Close() override { server_.Close(id_); }

    private:
        tether::Server& server_;
        const tether::Server::ConnectionId id_;
    };

    void Accept(tether::Server::ConnectionId id) {
        auto session = std::make_shared<ForwardSession>(context_, std::make_unique<Sink>(server_, id));
        std::lock_guard lock(mutex_);
        sessions_[id] = std::move(session);
    }

    std::shared_ptr<ForwardSession> Find(tether::Server::ConnectionId id) const {
        std::lock_guard lock(mutex_);
        auto it = sessions_.find(id);
        return it == sessions_.end() ? nullptr : it->second;
    }

    void Remove(tether::Server::ConnectionId id) {
        std::shared_ptr<ForwardSession> session;
        {
            std::lock_guard lock(mutex_);
            auto it = sessions_.find(id);
            if (it == sessions_.end()) return;
            session = std::move(it->second);
            sessions_.erase(it);
        }
        session->Stop();
    }

    ForwardContext& context_;
    mutable std::mutex mutex_;
    std::map<tether::Server::ConnectionId, std::shared_ptr<ForwardSession>> sessions_;
    tether::Server server_;  // last: its handlers use the members above
    std::string address_;
    int port_ = -1;
};

ForwardingService::ForwardingService(ServiceStore& store, ForwardingOptions options)
    : store_(store),
      options_(std::move(options)),
      clips_(options_.clips),
      context_{store_, clips_, voices_, settings_, heads_, faults_, stats_, marks_, options_.log} {}

ForwardingService::~ForwardingService() { Stop(); }

bool ForwardingService::Start(std::string& error) {
    for (const ForwardServer& address : options_.servers) {
        auto server = std::make_unique<Server>(context_);
        if (server->Listen(address.host, address.port) < 0) {
            error = "cannot listen on forwarding server " + address.host + ":" + std::to_string(address.port);
            Stop();
            return false;
        }
        servers_.push_back(std::move(server));
    }
    return true;
}

void ForwardingService::Stop() {
    for (auto& server : servers_) server->Stop();
    servers_.clear();
}

std::vector<ForwardServer> ForwardingService::Servers() const {
    std::vector<ForwardServer> servers;
    for (const auto& server : servers_) servers.push_back(server->Address());
    return servers;
}

std::vector<std::shared_ptr<ForwardSession>> ForwardingService::Sessions(const std::string& cameraId) const {
    std::vector<std::shared_ptr<ForwardSession>> selected;
    for (const auto& server : servers_)
        for (auto& session : server->Sessions())
            if (cameraId.empty() || session->CameraId() == cameraId) selected.push_back(std::move(session));
    return selected;
}

int ForwardingService::DropLinks(const std::string& cameraId) {
    auto sessions = Sessions(cameraId);
    for (auto& session : sessions) session->Drop();
    return static_cast<int>(sessions.size());
}

void ForwardingService::SetStalled(bool on, const std::string& cameraId) { faults_.SetStalled(cameraId, on); }

void ForwardingService::SetMalformedFrames(bool on, const std::string& cameraId) {
    faults_.SetMalformed(cameraId, on);
}

void ForwardingService::SetOpenRefusal(std::optional<int> result) { faults_.SetOpenRefusal(result); }

void ForwardingService::SetRefuseConnections(bool refuse) {
    for (auto& server : servers_) server->SetAccepting(!refuse);
}

int ForwardingService::StopCamera(const std::string& cameraId) {
    if (cameraId.empty()) return 0;
    auto sessions = Sessions(cameraId);
    for (auto& session : sessions) session->SendStop();
    return static_cast<int>(sessions.size());
}

void ForwardingService::ClearFaults() {
    faults_.Clear();
    SetRefuseConnections(false);
}

bool ForwardingService::SetKeyFrameSeconds(const std::string& cameraId, int seconds) {
    const std::optional<StreamingCamera> camera = store_.StreamingCameraInfo(cameraId);
    if (!camera || seconds < 1 || seconds > 60) return false;
    StreamSettings settings = settings_.Get(cameraId, camera->video);
    settings.keyFrameSeconds = seconds;
    settings_.Set(cameraId, settings);
    return true;
}

bool ForwardingService::SetClockedLive(const std::string& cameraId, bool on) {
    const std::optional<StreamingCamera> camera = store_.StreamingCameraInfo(cameraId);
    if (!camera) return false;
    StreamSettings settings = settings_.Get(cameraId, camera->video);
    settings.clockedLive = on;
    settings_.Set(cameraId, settings);
    return true;
}

std::vector<std::string> ForwardingService::LinkedCameras() const {
    std::set<std::string> ids;
    for (const auto& session : Sessions({}))
        if (session->GetKind() != ForwardSession::Kind::kNone) ids.insert(session->CameraId());
    return {ids.begin(), ids.end()};
}

int ForwardingService::ActiveLinks(const std::string& cameraId) const {
    int count = 0;
    for (const auto& session : Sessions(cameraId)) count += session->GetKind() != ForwardSession::Kind::kNone;
    return count;
}

ForwardingService::Stats ForwardingService::GetStats() const {
    Stats stats;
    stats.links = stats_.links;
    stats.activeLinks = static_cast<std::uint64_t>(ActiveLinks());
    stats.opens = stats_.opens;
    stats.refusedOpens = stats_.refusedOpens;
    stats.videoFrames = stats_.videoFrames;
    stats.audioPackets = stats_.audioPackets;
    stats.talkReceived = stats_.talkReceived;
    stats.talkEchoed = stats_.talkEchoed;
    stats.commands = stats_.commands;
    stats.heartbeats = stats_.heartbeats;
    stats.heartbeatsAnswered = stats_.heartbeatsAnswered;
    stats.keyFrameRequests = stats_.keyFrameRequests;
    stats.invalidMessages = stats_.invalidMessages;
    stats.malformedSent = stats_.malformedSent;
    stats.stopsSent = stats_.stopsSent;
    stats.clips = clips_.GetStats();
    return stats;
}

}  // namespace sim
