#include "sim/proxy_endpoint.h"

#include "libs/tether/tether.h"

namespace sim {

ProxyEndpoint::ProxyEndpoint() {
    tether::Server::Handlers handlers;
    handlers.onAccept = [this](tether::Server::ConnectionId connection, const std::string&) {
        if (ControlService* control = control_) control->OnAccept(connection);
    };
    handlers.onMessage = [this](tether::Server::ConnectionId connection, const char* data, std::size_t length) {
        if (ControlService* control = control_) control->OnMessage(connection, data, length);
    };
    handlers.onClosed = [this](tether::Server::ConnectionId connection) {
        if (ControlService* control = control_) control->OnClosed(connection);
    };
    server_ = std::make_unique<tether::Server>(std::move(handlers));
}

ProxyEndpoint::~ProxyEndpoint() { Stop(); }

int ProxyEndpoint::Listen(const std::string& address, int port) {
    port_ = server_->Listen(address, port);
    return port_;
}

void ProxyEndpoint::SetAccepting(bool accepting) { server_->SetAccepting(accepting); }

void ProxyEndpoint::Stop() {
    if (server_) server_->Stop();
}

bool ProxyEndpoint::Send(ConnectionId connection, const std::string& message) {
    return server_->Send(connection, message.data(), message.size());
}

bool ProxyEndpoint::SendRaw(ConnectionId connection, const std::string& bytes) {
    return server_->SendRaw(connection, bytes.data(), bytes.size());
}

void ProxyEndpoint::Close(ConnectionId connection) { server_->Close(connection); }

}  // namespace sim
