// The listening side: an accept thread running its own io_context, and for every
// accepted connection a Link with its reader thread.
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "libs/tether/link.h"
#include "libs/tether/tether.h"

namespace tether {

namespace asio = boost::asio;
using boost::system::error_code;

struct Server::Impl {
    explicit Impl(Handlers h) : handlers(std::move(h)), acceptor(acceptIo), retryTimer(acceptIo) {}

    void AcceptNext();
    void RetryLater();
    void OnAccepted(const std::shared_ptr<Link>& link);
    void OnEnded(ConnectionId id);
    std::shared_ptr<Link> Find(ConnectionId id);
    void ReapFinished();
    bool Stopping() {
        std::lock_guard<std::mutex> lock(mutex);
        return stopping;
    }

    Handlers handlers;
    asio::io_context acceptIo;  // run by the accept thread only
    asio::ip::tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    std::thread acceptThread;
    int port = -1;

    std::mutex mutex;
    bool stopping = false;
    bool accepting = true;
    ConnectionId nextId = 1;
    std::map<ConnectionId, std::shared_ptr<Link>> links;
    std::vector<std::shared_ptr<Link>> finished;  // ended links whose reader is to be joined
};

void Server::Impl::AcceptNext() {
    if (Stopping()) return;
    std::shared_ptr<Link> link;
    try {
        link = std::make_shared<Link>();
    } catch (const std::exception&) {
        return RetryLater();  // out of descriptors or memory
    }
    acceptor.async_accept(link->Socket(), [this, link](const error_code& ec) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
        ReapFinished();
        if (ec) return RetryLater();  // for example out of descriptors: do not spin
        OnAccepted(link);
        AcceptNext();
    });
}

void Server::Impl::RetryLater() {
    retryTimer.expires_after(std::chrono::milliseconds(100));
    retryTimer.async_wait([this](const error_code& ec) {
        if (!ec) AcceptNext();
    });
}

void Server::Impl::OnAccepted(const std::shared_ptr<Link>& link) {
    link->PrepareSocket();
    ConnectionId id;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) return;
        if (!accepting) {
            link->Close();  // refused: accepted and closed at once
            return;
        }
        id = nextId++;
        links.emplace(id, link);
    }
    if (handlers.onAccept) handlers.onAccept(id, link->PeerAddress());

    Link::Events events;
    events.message = [this, id](const char* data, std::size_t length) {
        if (handlers.onMessage && !Stopping()) handlers.onMessage(id, data, length);
    };
    events.ended = [this, id] { OnEnded(id); };
    if (!link->Start(std::move(events))) OnEnded(id);  // no reader thread: the connection ends at once
}

void Server::Impl::OnEnded(ConnectionId id) {
    if (Stopping()) return;
    if (handlers.onClosed) handlers.onClosed(id);
    // Only now leave the table, so that Stop waits for onClosed like for any handler
    // and the accept thread joins a reader that is already on its way out.
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return;
    auto it = links.find(id);
    if (it != links.end()) {
        finished.push_back(std::move(it->second));
        links.erase(it);
    }
}

std::shared_ptr<Link> Server::Impl::Find(ConnectionId id) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = links.find(id);
    return it == links.end() ? nullptr : it->second;
}

void Server::Impl::ReapFinished() {
    std::vector<std::shared_ptr<Link>> done;
    {
        std::lock_guard<std::mutex> lock(mutex);
        done.swap(finished);
    }
    for (auto& link : done) link->Close();  // joins a reader that has left its handlers
}

Server::Server(Handlers handlers) : impl_(std::make_unique<Impl>(std::move(handlers))) {}

Server::~Server() { Stop(); }

int Server::Listen(const std::string& address, int port) {
    if (impl_->acceptor.is_open() || port < 0 || port > 65535) return -1;
    error_code ec;
    auto ip = asio::ip::make_address(address, ec);
    if (ec) return -1;
    asio::ip::tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    impl_->acceptor.open(endpoint.protocol(), ec);
    if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) impl_->acceptor.bind(endpoint, ec);
    if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error_code ignored;
        impl_->acceptor.close(ignored);
        return -1;
    }
    auto bound = impl_->acceptor.local_endpoint(ec);
    if (ec) {
        error_code ignored;
        impl_->acceptor.close(ignored);
        return -1;
    }
    impl_->port = bound.port();
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopping = false;
    }
    impl_->acceptIo.restart();
    impl_->AcceptNext();
    try {
        impl_->acceptThread = std::thread([impl = impl_.get()] { impl->acceptIo.run(); });
    } catch (const std::system_error&) {
        error_code ignored;
        impl_->acceptor.close(ignored);
        impl_->port = -1;
        return -1;
    }
    return impl_->port;
}

int Server::Port() const { return impl_->port; }

bool Server::Send(ConnectionId connection, const void* data, std::size_t length) {
    if (data == nullptr || length == 0 || length > kMaxMessageSize) return false;
    auto link = impl_->Find(connection);
    return link && link->Write(data, length, true);
}

bool Server::SendRaw(ConnectionId connection, const void* data, std::size_t length) {
    if (data == nullptr && length > 0) return false;
    auto link = impl_->Find(connection);
    return link && link->Write(data, length, false);
}

void Server::Close(ConnectionId connection) {
    if (auto link = impl_->Find(connection)) link->Shutdown();  // the reader reports onClosed
}

void Server::SetAccepting(bool accepting) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->accepting = accepting;
}

void Server::Stop() {
    std::map<ConnectionId, std::shared_ptr<Link>> links;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopping = true;
        links.swap(impl_->links);
    }
    if (impl_->acceptThread.joinable()) {
        asio::post(impl_->acceptIo, [impl = impl_.get()] {
            error_code ignored;
            impl->acceptor.close(ignored);
            impl->retryTimer.cancel();
        });
        if (impl_->acceptThread.get_id() == std::this_thread::get_id())
            impl_->acceptThread.detach();  // Stop from onAccept: the loop ends when it returns
        else
            impl_->acceptThread.join();
    }
    for (auto& [id, link] : links) link->Close();
    impl_->ReapFinished();
    impl_->port = -1;
}

}  // namespace tether
