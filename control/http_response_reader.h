#pragma once
// Reading an HTTP/1.0 response: the header block one byte at a time up to the blank
// line, then the body in pieces until the server closes. The bytes come from a
// ByteSource, so the same reader serves sockets, socket pairs and plain buffers.

#include <cstddef>
#include <string>

#include "control/master_http.h"

namespace control {

class ByteSource {
public:
    static constexpr long kClosed = 0;
    static constexpr long kError = -1;     // the connection failed (reset and the like)
    static constexpr long kTimedOut = -2;  // nothing arrived within the read time-out

    virtual ~ByteSource() = default;
    // Up to `capacity` bytes: their count (> 0), kClosed, kError or kTimedOut.
    virtual long Receive(char* buffer, std::size_t capacity) = 0;
};

// A connected socket; every receive waits at most `timeoutMs` for data.
class SocketSource final : public ByteSource {
public:
    SocketSource(int fd, int timeoutMs) : fd_(fd), timeoutMs_(timeoutMs) {}
    long Receive(char* buffer, std::size_t capacity) override;

private:
    int fd_;
    int timeoutMs_;
};

// Bytes in memory, handed out in pieces of at most `maxPiece`; then closed.
class BufferSource final : public ByteSource {
public:
    explicit BufferSource(std::string data, std::size_t maxPiece = 4096) : data_(std::move(data)), maxPiece_(maxPiece) {}
    long Receive(char* buffer, std::size_t capacity) override;

private:
    std::string data_;
    std::size_t at_ = 0;
    std::size_t maxPiece_;
};

enum class ResponseEnd {
    Closed,          // the server closed (or the connection failed): what was read is the response
    TimedOut,        // a read waited longer than the read time-out
    HeaderTooLarge,  // no blank line within maxHeaderBytes
    BodyTooLarge,    // more than maxBodyBytes of body
};

constexpr std::size_t kBodyPieceBytes = 511;

// Reads the header block into `header` and the body into `body`. A connection that
// ends during the header block leaves `body` empty and still counts as Closed.
ResponseEnd ReadHttpResponse(ByteSource& source, const HttpLimits& limits, std::string& header, std::string& body);

}  // namespace control
