// Arbitrary bytes as messages received on a camera's video link and talk link, split
// into messages at 0xFF 0xFE markers: control replies, compact video, stream
// descriptions and media packets. Audio and talk packets are stored by the same code
// as video packets once their link has switched them on over the network.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "transport/talk_link.h"
#include "transport/video_link.h"

namespace {
struct Links {
    transport::PacketQueue video, audio, talk;
    transport::VideoLink videoLink{video, audio, nullptr};
    transport::TalkLink talkLink{talk, nullptr};
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Links* links = new Links;  // one set of threads for the whole run
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 <= size; ++i) {
        const bool boundary = i + 1 < size && data[i] == 0xFF && data[i + 1] == 0xFE;
        if (boundary || i + 1 == size) {
            const std::size_t end = boundary ? i : size;
            links->videoLink.Receive(0, data + start, end - start);
            links->talkLink.Receive(0, data + start, end - start);
            start = i + 2;
            if (boundary) ++i;
        }
    }
    for (auto* queue : {&links->video, &links->audio, &links->talk})
        while (auto record = queue->Pop()) {
            (void)record->IsKeyFrame();
            (void)record->Timestamp();
            queue->Release(std::move(record));
        }
    return 0;
}
