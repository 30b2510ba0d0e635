#pragma once
// The network end of the proxy server: Tether's server side carries whole messages
// between the control connections and the ControlService.

#include <atomic>
#include <memory>
#include <string>

#include "sim/control_service.h"

namespace tether {
class Server;
}

namespace sim {

class ProxyEndpoint final : public ReplyChannel {
public:
    ProxyEndpoint();
    ~ProxyEndpoint() override;

    // Messages go to `control` from now on (set before Listen).
    void Attach(ControlService* control) { control_ = control; }
    // The bound port, or -1.
    int Listen(const std::string& address, int port);
    int Port() const { return port_; }
    void SetAccepting(bool accepting);
    void Stop();

    bool Send(ConnectionId connection, const std::string& message) override;
    bool SendRaw(ConnectionId connection, const std::string& bytes) override;
    void Close(ConnectionId connection) override;

private:
    std::atomic<ControlService*> control_{nullptr};
    std::unique_ptr<tether::Server> server_;
    int port_ = -1;
};

}  // namespace sim
