#pragma once
// The framing of a Tether stream: every message travels as a 4-byte big-endian
// length followed by that many bytes (docs/protocol.md). The decoder turns stream
// bytes, fed in pieces of any size, back into whole messages; it owns no socket so
// it can be driven from a buffer.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tether {

constexpr std::size_t kFrameHeaderSize = 4;
// The largest assembly buffer a decoder keeps between messages.
constexpr std::size_t kKeptBufferSize = 1u << 20;

std::array<unsigned char, kFrameHeaderSize> EncodeFrameHeader(std::uint32_t length);

class FrameDecoder {
public:
    explicit FrameDecoder(std::uint32_t maxMessageSize);

    // Receives one whole message; returns false to stop feeding (the rest of the
    // current piece is discarded and the decoder must not be fed again).
    template <typename Sink>
    bool Feed(const char* data, std::size_t length, Sink&& onMessage);

    // True once a frame announced more than the maximum size; the stream cannot be
    // resynchronised after that, so the connection has to end.
    bool Failed() const { return failed_; }
    // Bytes of an unfinished frame held back (header included).
    std::size_t Pending() const { return header_.size() + body_.size(); }

private:
    // Consumes header bytes from the front of [data, data+length); returns the
    // number consumed. Sets bodyLength_ when the header is complete.
    std::size_t TakeHeader(const char* data, std::size_t length);

    const std::uint32_t maxMessageSize_;
    std::string header_;     // the unfinished length prefix (< 4 bytes)
    bool haveLength_ = false;
    std::uint32_t bodyLength_ = 0;
    std::string body_;       // the unfinished message, grown as bytes arrive
    bool failed_ = false;
};

template <typename Sink>
bool FrameDecoder::Feed(const char* data, std::size_t length, Sink&& onMessage) {
    while (length > 0 && !failed_) {
        if (!haveLength_) {
            std::size_t used = TakeHeader(data, length);
            data += used;
            length -= used;
            if (failed_) return false;
            if (!haveLength_) return true;  // the header is still incomplete
            if (bodyLength_ == 0) {
                // Empty frames carry nothing a receiver could use (every message
                // starts with its type byte); they are skipped.
                haveLength_ = false;
                continue;
            }
        }
        std::size_t missing = bodyLength_ - body_.size();
        if (body_.empty() && length >= missing) {
            // The whole message lies in the input: hand it over without a copy.
            haveLength_ = false;
            if (!onMessage(data, static_cast<std::size_t>(bodyLength_))) return false;
            data += missing;
            length -= missing;
            continue;
        }
        std::size_t take = length < missing ? length : missing;
        body_.append(data, take);
        data += take;
        length -= take;
        if (body_.size() == bodyLength_) {
            haveLength_ = false;
            const bool more = onMessage(body_.data(), body_.size());
            // The buffer is kept for the next message that spans reads, so a steady
            // stream assembles without allocating; a rare huge one is let go.
            if (body_.capacity() > kKeptBufferSize)
                std::string().swap(body_);
            else
                body_.clear();
            if (!more) return false;
        }
    }
    return !failed_;
}

}  // namespace tether
