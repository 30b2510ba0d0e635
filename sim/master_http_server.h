#pragma once
// The master control server: a plain HTTP/1.0 server on Boost.Asio. A GET of
// `<serverPath>_<userName>` answers the proxy server that user should connect to as
// {"ip":..,"port":..,"status":"IDEL"} and closes the connection (clients read until
// close). GETs under the upload path serve alarm pictures. Requests are bounded in
// size and in time, so a slow or broken client cannot hold a connection open.

#include <utility>  // before Boost 1.74 asio, which needs std::exchange
#include <boost/asio/io_context.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace sim {

struct MasterFaults {
    enum class Mode {
        kNormal,
        kCloseWithoutAnswer,  // read the request, close without a byte of answer
        kNotJson,             // answer 200 with a body that is not JSON
        kSilent,              // read the request and never answer (the connection stays open)
    };
    Mode mode = Mode::kNormal;
    std::optional<std::string> status;  // replaces "IDEL"
    std::optional<std::string> ip;      // replaces the proxy address (may be empty)
    std::optional<std::string> port;    // replaces the proxy port (may be empty)
};

class MasterHttpServer {
public:
    struct Options {
        std::string serverPath = "/master";
        std::string proxyIp = "127.0.0.1";
        std::function<int()> proxyPort;
        std::string uploadPath = "/upload/";
        // Bytes of the picture at the path below the upload path ("10001/alarm_7.jpg"),
        // nothing when there is none.
        std::function<std::optional<std::string>(const std::string& relativePath)> picture;
        std::chrono::milliseconds readTimeout{5000};
        std::size_t maxRequestBytes = 8192;
        std::chrono::milliseconds silentHold{30000};  // how long kSilent keeps a connection
    };

    MasterHttpServer(boost::asio::io_context& io, Options options);
    ~MasterHttpServer();
    MasterHttpServer(const MasterHttpServer&) = delete;
    MasterHttpServer& operator=(const MasterHttpServer&) = delete;

    // Binds and listens (port 0: any free port). The bound port, or -1.
    int Listen(const std::string& address, int port);
    int Port() const { return port_; }

    void SetFaults(const MasterFaults& faults);
    MasterFaults Faults() const;
    // false closes the listening socket (connections are refused); true listens again
    // on the same port. Must not be called on the server's own thread.
    bool SetAccepting(bool accepting);
    // Closes the listener (on the io thread); open connections end with the io_context.
    void Stop();

    std::uint64_t LookupCount() const;
    std::uint64_t PictureCount() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
    int port_ = -1;
};

// What a request asks of the master server, read from its request line.
struct MasterRequest {
    enum class Kind { kLookup, kPicture, kNotFound, kBadRequest };
    Kind kind = Kind::kBadRequest;
    std::string userName;      // kLookup
    std::string relativePath;  // kPicture: the path below the upload path
};
MasterRequest ClassifyMasterRequest(const std::string& head, const std::string& serverPath,
                                    const std::string& uploadPath);

// Percent-decodes a URL path piece; nothing when an escape is broken.
std::optional<std::string> PercentDecode(const std::string& text);

}  // namespace sim
