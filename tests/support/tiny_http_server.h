#pragma once
// A minimal HTTP/1.0 responder for tests: answers each GET with the body the test's
// function returns for the path, then closes the connection.

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testing_support {

class TinyHttpServer {
public:
    using Responder = std::function<std::string(const std::string& path)>;

    explicit TinyHttpServer(Responder responder) : responder_(std::move(responder)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 16);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TinyHttpServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    int Port() const { return port_; }
    std::vector<std::string> Paths() {
        std::lock_guard lock(mutex_);
        return paths_;
    }

private:
    void Serve() {
        while (!stop_) {
            pollfd fd{listener_, POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0) continue;
            int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) continue;
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            auto start = request.find(' ') + 1;
            std::string path = request.substr(start, request.find(' ', start) - start);
            {
                std::lock_guard lock(mutex_);
                paths_.push_back(path);
            }
            std::string body = responder_(path);
            std::string response = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n" + body;
            ::send(connection, response.data(), response.size(), MSG_NOSIGNAL);
            ::close(connection);
        }
    }

    Responder responder_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> paths_;
};

}  // namespace testing_support
