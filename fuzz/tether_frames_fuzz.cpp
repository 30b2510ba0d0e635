// Feeds arbitrary bytes, cut into pieces of fuzzer-chosen sizes, into the Tether frame
// decoder, and checks it against a plain reading of the whole stream at once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "libs/tether/frame_decoder.h"

namespace {

struct Expected {
    std::vector<std::string> messages;
    bool failed = false;
};

// The framing read the simple way: length, bytes, repeat.
Expected ReadWhole(const std::uint8_t* data, std::size_t size, std::uint32_t maxSize) {
    Expected out;
    std::size_t at = 0;
    while (size - at >= 4) {
        std::uint32_t length = (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) |
                               (std::uint32_t{data[at + 2]} << 8) | std::uint32_t{data[at + 3]};
        if (length > maxSize) {
            out.failed = true;
            return out;
        }
        if (size - at - 4 < length) return out;  // unfinished
        if (length > 0) out.messages.emplace_back(reinterpret_cast<const char*>(data + at + 4), length);
        at += 4 + length;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // First byte: the largest message allowed; second: how the stream is cut.
    const std::uint32_t maxSize = data[0] == 0xFF ? 16u * 1024u * 1024u : data[0] * 4u;
    const std::size_t piece = data[1] % 9 + 1;
    data += 2;
    size -= 2;

    Expected expected = ReadWhole(data, size, maxSize);
    tether::FrameDecoder decoder(maxSize);
    std::vector<std::string> got;
    bool ok = true;
    for (std::size_t at = 0; at < size && ok; at += piece) {
        std::size_t n = size - at < piece ? size - at : piece;
        ok = decoder.Feed(reinterpret_cast<const char*>(data + at), n, [&](const char* message, std::size_t length) {
            if (length == 0 || length > maxSize) std::abort();
            got.emplace_back(message, length);
            return true;
        });
    }
    if (got != expected.messages) std::abort();
    if (expected.failed != decoder.Failed() || ok == expected.failed) std::abort();
    return 0;
}
