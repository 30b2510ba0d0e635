#pragma once
// Reading an HTTP/1.0 response: the header block one byte at a time up to the blank
// line, then the body in pieces until the server closes. The bytes come from a
// ByteSource, so the same reader serves sockets, socket pairs and plain buffers.

#include <chrono>
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

// A connected socket; every receive waits at most `timeoutMs` for data, and none
// waits past `deadline` (the end of the whole exchange).
class SocketSource final : public ByteSource {
public:
    using Clock = std::chrono::steady_clock;
    SocketSource(int fd, int timeoutMs, Clock::time_point deadline = Clock::time_point::max())
        : fd_(fd), timeoutMs_(timeoutMs), deadline_(deadline) {}
    long Receive(char* buffer, std::size_t capacity) override;

private:
    int fd_;
    int timeoutMs_;
    Clock::time_point deadline_;
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
    Closed,          // the server closed: what was read is the response
    Failed,          // the connection broke (reset and the like): the response is incomplete
    TimedOut,        // a read waited longer than the read time-out, or the exchange's deadline passed
    HeaderTooLarge,  // no blank line within maxHeaderBytes
    BodyTooLarge,    // more than maxBodyBytes of body
};

constexpr std::size_t kBodyPieceBytes = 511;

// Reads the header block into `header` and the body into `body`. A connection that
// the server closes during the header block leaves `body` empty and still counts as
// Closed; one that breaks counts as Failed wherever it breaks.
ResponseEnd ReadHttpResponse(ByteSource& source, const HttpLimits& limits, std::string& header, std::string& body);

}  // namespace control
