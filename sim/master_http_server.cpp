#include "sim/master_http_server.h"

#include <utility>  // Boost 1.74 asio uses std::exchange without including it

#include <boost/asio.hpp>
#include <json/json.h>

#include <cctype>
#include <future>
#include <set>
#include <sstream>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace sim {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

std::optional<std::string> PercentDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return std::nullopt;
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return out;
}

MasterRequest ClassifyMasterRequest(const std::string& head, const std::string& serverPath,
                                    const std::string& uploadPath) {
    MasterRequest request;
    const std::string line = head.substr(0, head.find_first_of("\r\n"));
    std::istringstream in(line);
    std::string method, target, version, extra;
    in >> method >> target >> version;
    if (method != "GET" || target.empty() || version.rfind("HTTP/", 0) != 0 || (in >> extra)) return request;

    // Absolute form ("http://host/path") and the query do not take part in routing.
    if (target.size() > 7 && (target.compare(0, 7, "http://") == 0 || target.compare(0, 7, "HTTP://") == 0)) {
        std::size_t slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    target = target.substr(0, target.find('?'));

    const std::string lookupPrefix = serverPath + "_";
    if (target.rfind(lookupPrefix, 0) == 0) {
        auto user = PercentDecode(target.substr(lookupPrefix.size()));
        if (!user) return request;
        request.kind = MasterRequest::Kind::kLookup;
        request.userName = *user;
        return request;
    }
    if (!uploadPath.empty() && target.rfind(uploadPath, 0) == 0) {
        auto relative = PercentDecode(target.substr(uploadPath.size()));
        if (!relative) return request;
        request.kind = MasterRequest::Kind::kPicture;
        request.relativePath = *relative;
        return request;
    }
    request.kind = MasterRequest::Kind::kNotFound;
    return request;
}

namespace {

std::string Response(const std::string& status, const std::string& contentType, const std::string& body) {
    std::ostringstream out;
    out << "HTTP/1.0 " << status << "\r\n"
        << "Server: larkview-sim\r\n"
        << "Content-Type: " << contentType << "\r\n"
        << "Content-Length: " << body.size() << "\r\n"
        << "Connection: close\r\n\r\n"
        << body;
    return out.str();
}

std::string NotFound() { return Response("404 Not Found", "text/plain", "not found\n"); }

}  // namespace

struct MasterHttpServer::Impl : std::enable_shared_from_this<MasterHttpServer::Impl> {
    Impl(asio::io_context& context, Options serverOptions)
        : io(context), acceptor(context), options(std::move(serverOptions)) {}

    asio::io_context& io;
    tcp::acceptor acceptor;
    tcp::endpoint endpoint;
    const Options options;
    mutable std::mutex faultLock;
    MasterFaults faults;
    std::atomic<std::uint64_t> lookups{0};
    std::atomic<std::uint64_t> pictures{0};

    struct Connection : std::enable_shared_from_this<Connection> {
        Connection(asio::io_context& io, std::size_t maxBytes) : socket(io), timer(io), buffer(maxBytes) {}
        tcp::socket socket;
        asio::steady_timer timer;
        asio::streambuf buffer;
        std::string response;
    };

    bool Open() {
        boost::system::error_code error;
        acceptor.open(endpoint.protocol(), error);
        if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
        if (!error) acceptor.bind(endpoint, error);
        if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
        if (error) {
            acceptor.close(error);
            return false;
        }
        endpoint = acceptor.local_endpoint(error);
        Accept();
        return true;
    }

    void Accept() {
        auto connection = std::make_shared<Connection>(io, options.maxRequestBytes);
        acceptor.async_accept(connection->socket, [self = shared_from_this(), connection](boost::system::error_code error) {
            if (error == asio::error::operation_aborted || !self->acceptor.is_open()) return;
            if (!error) self->Read(connection);
            self->Accept();
        });
    }

    void Read(const std::shared_ptr<Connection>& connection) {
        connection->timer.expires_after(options.readTimeout);
        connection->timer.async_wait([connection](boost::system::error_code error) {
            if (!error) {
                boost::system::error_code ignored;
                connection->socket.close(ignored);
            }
        });
        asio::async_read_until(connection->socket, connection->buffer, "\r\n\r\n",
                               [self = shared_from_this(), connection](boost::system::error_code error, std::size_t) {
                                   connection->timer.cancel();
                                   if (error == asio::error::not_found) {
                                       self->Write(connection, Response("400 Bad Request", "text/plain", "request too large\n"));
                                       return;
                                   }
                                   if (error) return;  // closed or timed out
                                   self->Handle(connection);
                               });
    }

    void Handle(const std::shared_ptr<Connection>& connection) {
        const auto data = connection->buffer.data();
        const std::string head(asio::buffers_begin(data), asio::buffers_end(data));
        const MasterRequest request = ClassifyMasterRequest(head, options.serverPath, options.uploadPath);
        switch (request.kind) {
            case MasterRequest::Kind::kLookup:
                ++lookups;
                return Lookup(connection);
            case MasterRequest::Kind::kPicture: {
                std::optional<std::string> bytes = options.picture ? options.picture(request.relativePath) : std::nullopt;
                if (!bytes) return Write(connection, NotFound());
                ++pictures;
                return Write(connection, Response("200 OK", "image/jpeg", *bytes));
            }
            case MasterRequest::Kind::kNotFound: return Write(connection, NotFound());
            case MasterRequest::Kind::kBadRequest:
                return Write(connection, Response("400 Bad Request", "text/plain", "bad request\n"));
        }
    }

    void Lookup(const std::shared_ptr<Connection>& connection) {
        MasterFaults f;
        {
            std::lock_guard<std::mutex> guard(faultLock);
            f = faults;
        }
        switch (f.mode) {
            case MasterFaults::Mode::kCloseWithoutAnswer: {
                boost::system::error_code ignored;
                connection->socket.shutdown(tcp::socket::shutdown_both, ignored);
                connection->socket.close(ignored);
                return;
            }
            case MasterFaults::Mode::kSilent:
                connection->timer.expires_after(options.silentHold);
                connection->timer.async_wait([connection](boost::system::error_code) {
                    boost::system::error_code ignored;
                    connection->socket.close(ignored);
                });
                return;
            case MasterFaults::Mode::kNotJson:
                return Write(connection, Response("200 OK", "text/html", "<html><body>busy</body></html>"));
            case MasterFaults::Mode::kNormal: break;
        }
        Json::Value body(Json::objectValue);
        body["ip"] = f.ip.value_or(options.proxyIp);
        body["port"] = f.port.value_or(std::to_string(options.proxyPort ? options.proxyPort() : 0));
        body["status"] = f.status.value_or("IDEL");
        Json::FastWriter writer;
        writer.omitEndingLineFeed();
        Write(connection, Response("200 OK", "application/json", writer.write(body)));
    }

    void Write(const std::shared_ptr<Connection>& connection, std::string response) {
        connection->response = std::move(response);
        connection->timer.expires_after(options.readTimeout);
        connection->timer.async_wait([connection](boost::system::error_code error) {
            if (!error) {
                boost::system::error_code ignored;
                connection->socket.close(ignored);
            }
        });
        asio::async_write(connection->socket, asio::buffer(connection->response),
                          [connection](boost::system::error_code, std::size_t) {
                              connection->timer.cancel();
                              boost::system::error_code ignored;
                              connection->socket.shutdown(tcp::socket::shutdown_both, ignored);
                              connection->socket.close(ignored);
                          });
    }

    // Runs `task` on the io thread and waits for it.
    template <typename Task>
    auto OnIoThread(Task task) {
        std::packaged_task<decltype(task())()> packaged(std::move(task));
        auto result = packaged.get_future();
        asio::post(io, [&packaged] { packaged(); });
        return result.get();
    }
};

MasterHttpServer::MasterHttpServer(asio::io_context& io, Options options)
    : impl_(std::make_shared<Impl>(io, std::move(options))) {}

MasterHttpServer::~MasterHttpServer() { Stop(); }

int MasterHttpServer::Listen(const std::string& address, int port) {
    boost::system::error_code error;
    auto ip = asio::ip::make_address(address, error);
    if (error || port < 0 || port > 65535) return -1;
    impl_->endpoint = tcp::endpoint(ip, static_cast<unsigned short>(port));
    if (!impl_->Open()) return -1;
    port_ = impl_->endpoint.port();
    return port_;
}

void MasterHttpServer::SetFaults(const MasterFaults& faults) {
    std::lock_guard<std::mutex> guard(impl_->faultLock);
    impl_->faults = faults;
}

MasterFaults MasterHttpServer::Faults() const {
    std::lock_guard<std::mutex> guard(impl_->faultLock);
    return impl_->faults;
}

bool MasterHttpServer::SetAccepting(bool accepting) {
    auto impl = impl_;
    return impl->OnIoThread([impl, accepting] {
        if (accepting == impl->acceptor.is_open()) return true;
        if (!accepting) {
            boost::system::error_code ignored;
            impl->acceptor.close(ignored);
            return true;
        }
        return impl->Open();
    });
}

void MasterHttpServer::Stop() {
    if (impl_->io.stopped()) {  // no handler can run any more: close right here
        boost::system::error_code ignored;
        impl_->acceptor.close(ignored);
        return;
    }
    // Closed on the io thread, where every other use of the acceptor runs.
    asio::post(impl_->io, [impl = impl_] {
        boost::system::error_code ignored;
        impl->acceptor.close(ignored);
    });
}

std::uint64_t MasterHttpServer::LookupCount() const { return impl_->lookups; }
std::uint64_t MasterHttpServer::PictureCount() const { return impl_->pictures; }

}  // namespace sim
