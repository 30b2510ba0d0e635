#pragma once
// A minimal blocking HTTP/1.0 client over plain sockets: one request per connection,
// a fixed set of request headers, the status line not interpreted, the body read
// until the server closes. Used for the master lookup and for device reboots.
//
// Unlike the classic HTTP/1.0 clients it bounds the wait for every read and the size
// of the body, so a server that never closes the connection cannot hang the caller.

#include <cstddef>
#include <map>
#include <string>

namespace control {

struct HttpLimits {
    int connectTimeoutMs = 5000;
    int readTimeoutMs = 10000;                  // longest wait for any single read
    std::size_t maxHeaderBytes = 64 * 1024;
    std::size_t maxBodyBytes = 4 * 1024 * 1024;
};

struct HttpExchange {
    std::string request;         // the request as sent, at most 1,024 bytes
    std::string responseHeader;  // status line and headers as received
    std::string body;
};

class CMasterHttp {
public:
    static constexpr int kOk = 0;
    static constexpr int kBadSchemeOrSocket = 1;
    static constexpr int kConnectFailed = 255;

    explicit CMasterHttp(HttpLimits limits = {}) : limits_(limits) {}
    virtual ~CMasterHttp() = default;

    // GET, or POST when `body` is given (even with length 0). `extraHeaders` are
    // complete lines ending in CRLF. Returns kOk, kBadSchemeOrSocket or kConnectFailed.
    int Request(const std::string& url, const char* body, long bodyLength, const char* extraHeaders,
                HttpExchange& out);

    // GET with "Authorization: Basic <credentials>" when credentials (already
    // Base64) are given. True when the request succeeded.
    bool Get(const std::string& url, const char* credentials, HttpExchange& out);

    // GET without credentials; the body's JSON members "ip", "port" and "status" as
    // strings. False when the request fails or the body is not a JSON object.
    bool MasterLookup(const std::string& url, std::map<std::string, std::string>& values);

    struct ParsedUrl {
        std::string scheme;  // upper case
        std::string host;    // upper case, without port
        int port = 80;
        std::string path;    // letter case kept; "/" when empty
    };
    // False when the scheme is not HTTP.
    static bool ParseUrl(const std::string& url, ParsedUrl& out);

private:
    HttpLimits limits_;
};

}  // namespace control
