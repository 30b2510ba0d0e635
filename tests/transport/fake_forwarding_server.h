#pragma once
// A forwarding server for link tests: answers opens and commands through a script and
// can push raw link messages.

#include <atomic>
#include <functional>
#include <json/json.h>
#include <mutex>
#include <vector>

#include "control/control_message.h"
#include "libs/tether/tether.h"

namespace testing_support {

class FakeForwardingServer {
public:
    using Script = std::function<std::vector<std::string>(const control::ControlMessage&)>;

    FakeForwardingServer()
        : server_(tether::Server::Handlers{
              [this](tether::Server::ConnectionId id, const std::string&) {
                  std::lock_guard lock(mutex_);
                  connections_.push_back(id);
              },
              [this](tether::Server::ConnectionId id, const char* data, std::size_t length) {
                  auto message = control::DecodeMessage(data, length);
                  Script script;
                  {
                      std::lock_guard lock(mutex_);
                      if (length > 0 && data[0] != 0) media_.emplace_back(data, length);
                      if (message) received_.push_back(*message);
                      script = script_;
                  }
                  if (message && script)
                      for (const std::string& reply : script(*message)) server_.Send(id, reply.data(), reply.size());
              },
              [](tether::Server::ConnectionId) {}}) {
        port_ = server_.Listen("127.0.0.1", 0);
    }

    int Port() const { return port_; }
    void SetScript(Script script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }
    std::vector<control::ControlMessage> Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    int Count(int msgType) {
        int n = 0;
        for (auto& m : Received()) n += m.msgType == msgType;
        return n;
    }
    // The messages other than control messages (talk audio), as received.
    std::vector<std::string> MediaReceived() {
        std::lock_guard lock(mutex_);
        return media_;
    }
    int Connections() {
        std::lock_guard lock(mutex_);
        return static_cast<int>(connections_.size());
    }
    void PushAll(const std::string& wire) {
        std::vector<tether::Server::ConnectionId> ids;
        {
            std::lock_guard lock(mutex_);
            ids = connections_;
        }
        for (auto id : ids) server_.Send(id, wire.data(), wire.size());
    }

    // A realm-2 control reply as a link message.
    static std::string Reply(int msgType, std::map<std::string, std::string> params) {
        Json::Value p(Json::objectValue);
        for (auto& [k, v] : params) p[k] = v;
        return control::EncodeEnvelope(0, msgType, 2, p, false, 0);
    }

private:
    std::mutex mutex_;
    std::vector<tether::Server::ConnectionId> connections_;
    std::vector<control::ControlMessage> received_;
    std::vector<std::string> media_;
    Script script_;
    tether::Server server_;
    int port_ = 0;
};

}  // namespace testing_support
