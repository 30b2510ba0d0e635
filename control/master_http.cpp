#include "control/master_http.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <json/json.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "control/http_response_reader.h"
#include "platform/numbers.h"

// The lookup answer is read with jsoncpp's classic Reader, which newer jsoncpp marks
// deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace control {
namespace {

constexpr std::size_t kRequestTextLimit = 1024;

const char* const kAcceptHeader =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, application/msword, "
    "application/vnd.ms-powerpoint, */*\r\n";

std::string AsciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool IsHostChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == ':';
}

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

bool SetBlocking(int fd, bool blocking) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

// Resolves `host` (first IPv4 address) and connects within the time-out. poll rather
// than select: select cannot watch descriptors numbered 1024 and above.
bool ConnectWithin(int fd, const std::string& host, int port, int timeoutMs) {
    if (port <= 0 || port > 65535 || host.empty()) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(static_cast<std::uint16_t>(port));

    if (!SetBlocking(fd, false)) return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd waiting{fd, POLLOUT, 0};
            int ready = ::poll(&waiting, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return false;
            break;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
    }
    return SetBlocking(fd, true);
}

// Sends the request piece by piece and keeps the text for the caller (capped).
class RequestWriter {
public:
    RequestWriter(int fd, std::string& text, std::chrono::steady_clock::time_point deadline)
        : fd_(fd), text_(text), deadline_(deadline) {}

    void Piece(const char* data, std::size_t length) {
        if (length == 0) return;
        if (text_.size() < kRequestTextLimit) text_.append(data, std::min(length, kRequestTextLimit - text_.size()));
        while (ok_ && length > 0) {
            if (std::chrono::steady_clock::now() >= deadline_) {
                ok_ = false;  // the exchange ran out of time
                return;
            }
            ssize_t sent = ::send(fd_, data, length, MSG_NOSIGNAL);  // a closed peer must not raise SIGPIPE
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) {
                ok_ = false;  // failed, or the send time-out passed
                return;
            }
            data += sent;
            length -= static_cast<std::size_t>(sent);
        }
    }
    void Piece(const std::string& text) { Piece(text.data(), text.size()); }
    bool Ok() const { return ok_; }

private:
    int fd_;
    std::string& text_;
    std::chrono::steady_clock::time_point deadline_;
    bool ok_ = true;
};

std::string ScalarText(const Json::Value& value) {
    if (value.isObject() || value.isArray()) return std::string();
    return value.asString();  // null reads as ""; numbers and booleans as their text
}

}  // namespace

// Spaces and control characters would break the request line (or start a header of
// their own); they are sent percent-encoded, everything else as given.
std::string EncodeRequestPath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c <= 0x20 || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool CMasterHttp::ParseUrl(const std::string& url, ParsedUrl& out) {
    const std::string upper = AsciiUpper(url);
    std::size_t at = 0;
    std::size_t colon = upper.find(':');
    if (colon != std::string::npos) {
        out.scheme = upper.substr(0, colon);
        at = colon + 1;
        if (upper.compare(at, 2, "//") == 0) at += 2;
    } else {
        out.scheme = "HTTP";
    }
    if (out.scheme != "HTTP") return false;

    std::size_t end = at;
    while (end < upper.size() && IsHostChar(upper[end])) ++end;
    const std::string hostPart = upper.substr(at, end - at);
    out.path = url.substr(end);  // from the text as given: the path keeps its letter case
    if (out.path.empty()) out.path = "/";

    std::size_t portColon = hostPart.find(':');
    if (portColon != std::string::npos) {
        out.host = hostPart.substr(0, portColon);
        out.port = platform::ParseInt(hostPart.substr(portColon + 1));
    } else {
        out.host = hostPart;
        out.port = 80;
    }
    return true;
}

int CMasterHttp::Request(const std::string& url, const char* body, long bodyLength, const char* extraHeaders,
                         HttpExchange& out) {
    out = HttpExchange{};
    HttpLimits limits = limits_;  // a time-out of zero or less means the default, never "wait forever"
    if (limits.connectTimeoutMs <= 0) limits.connectTimeoutMs = HttpLimits{}.connectTimeoutMs;
    if (limits.readTimeoutMs <= 0) limits.readTimeoutMs = HttpLimits{}.readTimeoutMs;
    if (limits.exchangeTimeoutMs <= 0) limits.exchangeTimeoutMs = HttpLimits{}.exchangeTimeoutMs;
    // One deadline for everything: a server that drips a byte just inside every read
    // time-out must not hold the caller for longer.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.exchangeTimeoutMs);
    ParsedUrl target;
    if (!ParseUrl(url, target)) return kBadSchemeOrSocket;
    Socket socket;
    if (socket.Fd() < 0) return kBadSchemeOrSocket;
    if (!ConnectWithin(socket.Fd(), target.host, target.port,
                       std::min(limits.connectTimeoutMs, limits.exchangeTimeoutMs)))
        return kConnectFailed;

    timeval sendTimeout{limits.readTimeoutMs / 1000, (limits.readTimeoutMs % 1000) * 1000};
    ::setsockopt(socket.Fd(), SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);

    // A length without bytes sends no body and announces none.
    const std::size_t bodyBytes = (body != nullptr && bodyLength > 0) ? static_cast<std::size_t>(bodyLength) : 0;
    RequestWriter request(socket.Fd(), out.request, deadline);
    request.Piece(body != nullptr ? "POST " : "GET ");
    request.Piece(EncodeRequestPath(target.path));
    request.Piece(" HTTP/1.0\r\n");
    request.Piece(kAcceptHeader);
    request.Piece("Accept-Language: en-us\r\n");
    request.Piece("Accept-Encoding: gzip, default\r\n");
    request.Piece("User-Agent: Plover/4.0\r\n");
    if (bodyBytes != 0) request.Piece("Content-Length: " + std::to_string(bodyBytes) + "\r\n");
    request.Piece("Host: " + target.host + "\r\n");
    if (extraHeaders != nullptr) request.Piece(extraHeaders, std::strlen(extraHeaders));
    request.Piece("\r\n");
    if (bodyBytes != 0) request.Piece(body, bodyBytes);
    if (!request.Ok()) return kTransferFailed;

    SocketSource source(socket.Fd(), limits.readTimeoutMs, deadline);
    ResponseEnd end = ReadHttpResponse(source, limits, out.responseHeader, out.body);
    return end == ResponseEnd::Closed ? kOk : kTransferFailed;
}

bool CMasterHttp::Get(const std::string& url, const char* credentials, HttpExchange& out) {
    std::string extra;
    if (credentials != nullptr && *credentials != '\0') {
        // Base64 text never holds line breaks; anything that does would inject headers.
        if (std::strpbrk(credentials, "\r\n") != nullptr) return false;
        extra = std::string("Authorization: Basic ") + credentials + "\r\n";
    }
    return Request(url, nullptr, 0, extra.empty() ? nullptr : extra.c_str(), out) == kOk;
}

bool CMasterHttp::MasterLookup(const std::string& url, std::map<std::string, std::string>& values) {
    HttpExchange exchange;
    if (!Get(url, nullptr, exchange)) return false;
    return ParseLookupBody(exchange.body, values);
}

bool CMasterHttp::ParseLookupBody(const std::string& body, std::map<std::string, std::string>& values) {
    try {
        Json::Value root;
        Json::Reader reader;
        if (!reader.parse(body, root, false) || !root.isObject()) return false;
        for (const char* key : {"ip", "port", "status"}) values[key] = ScalarText(root[key]);
        return true;
    } catch (const std::exception&) {
        return false;  // nested too deeply, or a value that does not convert
    }
}

}  // namespace control
