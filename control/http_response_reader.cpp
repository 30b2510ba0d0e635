#include "control/http_response_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace control {

long SocketSource::Receive(char* buffer, std::size_t capacity) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        if (left <= 0) return kTimedOut;
        pollfd waiting{fd_, POLLIN, 0};
        int ready = ::poll(&waiting, 1, static_cast<int>(std::min<long long>(timeoutMs_, left)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return kError;
        if (ready == 0) return kTimedOut;
        ssize_t received = ::recv(fd_, buffer, capacity, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received < 0) return kError;
        return static_cast<long>(received);
    }
}

long BufferSource::Receive(char* buffer, std::size_t capacity) {
    std::size_t n = std::min({capacity, maxPiece_, data_.size() - at_});
    if (n == 0) return kClosed;
    std::memcpy(buffer, data_.data() + at_, n);
    at_ += n;
    return static_cast<long>(n);
}

ResponseEnd ReadHttpResponse(ByteSource& source, const HttpLimits& limits, std::string& header, std::string& body) {
    header.clear();
    body.clear();

    // The header block ends with a line feed after a line that had nothing but
    // carriage returns.
    std::size_t lineLength = 0;
    for (;;) {
        char byte;
        long received = source.Receive(&byte, 1);
        if (received == ByteSource::kTimedOut) return ResponseEnd::TimedOut;
        if (received == ByteSource::kError) return ResponseEnd::Failed;
        if (received <= 0) return ResponseEnd::Closed;  // the headers so far, no body
        header.push_back(byte);
        if (byte == '\n') {
            if (lineLength == 0) break;
            lineLength = 0;
        } else if (byte != '\r') {
            ++lineLength;
        }
        if (header.size() >= limits.maxHeaderBytes) return ResponseEnd::HeaderTooLarge;
    }

    char piece[kBodyPieceBytes];
    for (;;) {
        long received = source.Receive(piece, sizeof piece);
        if (received == ByteSource::kTimedOut) return ResponseEnd::TimedOut;
        if (received == ByteSource::kClosed) return ResponseEnd::Closed;
        if (received < 0) return ResponseEnd::Failed;  // a reset is no end of the body
        if (body.size() + static_cast<std::size_t>(received) > limits.maxBodyBytes) return ResponseEnd::BodyTooLarge;
        body.append(piece, static_cast<std::size_t>(received));
    }
}

}  // namespace control
