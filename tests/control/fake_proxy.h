#pragma once
// A scriptable proxy server for control-client tests: it records every request it
// receives and answers through a function the test provides. A master lookup
// responder that names it is included.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <json/json.h>
#include <mutex>
#include <string>
#include <vector>

#include "control/control_message.h"
#include "libs/tether/tether.h"
#include "support/tiny_http_server.h"

namespace testing_support {

class FakeProxy {
public:
    // Returns the replies (complete wire messages) for one request.
    using Script = std::function<std::vector<std::string>(const control::ControlMessage& request)>;

    FakeProxy()
        : server_(tether::Server::Handlers{
              [this](tether::Server::ConnectionId id, const std::string&) {
                  std::lock_guard lock(mutex_);
                  connections_.push_back(id);
                  ++accepted_;
                  cv_.notify_all();
              },
              [this](tether::Server::ConnectionId id, const char* data, std::size_t length) {
                  OnRequest(id, std::string(data, length));
              },
              [](tether::Server::ConnectionId) {}}),
          master_([this](const std::string&) {
              return "{\"ip\":\"127.0.0.1\",\"port\":\"" + std::to_string(port_) + "\",\"status\":\"IDEL\"}";
          }) {
        port_ = server_.Listen("127.0.0.1", 0);
    }

    int Port() const { return port_; }
    int MasterPort() const { return master_.Port(); }
    TinyHttpServer& Master() { return master_; }
    tether::Server& Server() { return server_; }

    void SetScript(Script script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }

    // Every raw request received, in order.
    std::vector<std::string> RawRequests() {
        std::lock_guard lock(mutex_);
        return raw_;
    }
    int CountRequests(int msgType) {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const auto& raw : raw_) {
            auto decoded = control::DecodeMessage(raw.data(), raw.size());
            if (decoded && decoded->msgType == msgType) ++n;
        }
        return n;
    }
    int Accepted() {
        std::lock_guard lock(mutex_);
        return accepted_;
    }
    // Waits until `predicate` holds (checked on each request or accept).
    bool WaitUntil(const std::function<bool()>& predicate, int timeoutMs = 5000) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            lock.unlock();
            bool done = predicate();
            lock.lock();
            return done;
        });
    }
    void DropAll() {
        std::vector<tether::Server::ConnectionId> ids;
        {
            std::lock_guard lock(mutex_);
            ids = connections_;
        }
        for (auto id : ids) server_.Close(id);
    }
    void Push(const std::string& wire) {
        std::vector<tether::Server::ConnectionId> ids;
        {
            std::lock_guard lock(mutex_);
            ids = connections_;
        }
        for (auto id : ids) server_.Send(id, wire.data(), wire.size());
    }

    static std::string Reply(int id, int msgType, const Json::Value& params, bool scramble = false) {
        return control::EncodeEnvelope(id, msgType, 1, params, scramble, 0x01);
    }

private:
    void OnRequest(tether::Server::ConnectionId id, std::string raw) {
        Script script;
        {
            std::lock_guard lock(mutex_);
            raw_.push_back(raw);
            script = script_;
        }
        cv_.notify_all();
        auto request = control::DecodeMessage(raw.data(), raw.size());
        if (!request || !script) return;
        for (const std::string& reply : script(*request)) server_.Send(id, reply.data(), reply.size());
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> raw_;
    std::vector<tether::Server::ConnectionId> connections_;
    int accepted_ = 0;
    Script script_;
    tether::Server server_;
    TinyHttpServer master_;
    int port_ = 0;
};

}  // namespace testing_support
