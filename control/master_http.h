#pragma once
// A minimal blocking HTTP/1.0 client over plain sockets: one request per connection,
// a fixed set of request headers, the status line not interpreted, the body read
// until the server closes. Used for the master lookup and for device reboots.
//
// Unlike the classic HTTP/1.0 clients it bounds the wait for every read, the whole
// exchange and the size of the body, so a server that never closes the connection, or
// drips a byte now and then, cannot hold the caller. Such an exchange fails
// (kTransferFailed), and so does a connection that breaks while the body is read:
// without the close we cannot know that the body is complete, and a cut JSON answer
// must not pass as a good one. The exchange still holds what was read.

#include <cstddef>
#include <map>
#include <string>

namespace control {

// A URL's path as it may stand in a request line: spaces and control characters (which
// would break the line or start a header of their own) percent-encoded.
std::string EncodeRequestPath(const std::string& path);

struct HttpLimits {
    int connectTimeoutMs = 5000;                // <= 0: the default
    int readTimeoutMs = 10000;                  // longest wait for any single read; <= 0: the default
    // The whole exchange, from the connect to the last body byte; <= 0: the default.
    int exchangeTimeoutMs = 20000;
    std::size_t maxHeaderBytes = 64 * 1024;
    std::size_t maxBodyBytes = 4 * 1024 * 1024;
    // Sending the request is bounded by readTimeoutMs as well.
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
    // Connected, but the request could not be sent or the response did not end
    // within the limits: a read or send waited longer than readTimeoutMs, the
    // exchange took longer than exchangeTimeoutMs, the connection broke, or the
    // header block or the body was larger than allowed.
    static constexpr int kTransferFailed = 2;

    explicit CMasterHttp(HttpLimits limits = {}) : limits_(limits) {}
    virtual ~CMasterHttp() = default;

    // GET, or POST when `body` is given (even with length 0). `extraHeaders` are
    // complete lines ending in CRLF. Returns kOk, kBadSchemeOrSocket, kConnectFailed
    // or kTransferFailed. A server that closes during the header block gives kOk with
    // the headers read so far and an empty body.
    int Request(const std::string& url, const char* body, long bodyLength, const char* extraHeaders,
                HttpExchange& out);

    // GET with "Authorization: Basic <credentials>" when credentials (already
    // Base64) are given. True when the request succeeded.
    bool Get(const std::string& url, const char* credentials, HttpExchange& out);

    // GET without credentials; the body's JSON members "ip", "port" and "status" as
    // strings. False when the request fails or the body is not a JSON object.
    bool MasterLookup(const std::string& url, std::map<std::string, std::string>& values);

    // The body part of MasterLookup: false when `body` is not a JSON object;
    // otherwise sets "ip", "port" and "status" (missing members and members that are
    // objects or arrays read as "").
    static bool ParseLookupBody(const std::string& body, std::map<std::string, std::string>& values);

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
