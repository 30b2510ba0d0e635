// The camera's audio while listening: stream descriptions and audio packets as the
// video link stores them, played one by one as the listening thread plays them, into
// a player that records what it is given.
//
// Input, repeated: a 24-byte stream description, a 16-bit little-endian length n, and
// n bytes of stored packet body (coded sound and the two trailing bytes).
//
// Checked against the description's own bytes: a player is opened exactly when the
// format changes to one a player plays, and then with the description's channel count,
// rate and bits read whole (65552 bits are not 16); a format no player plays leaves
// no player and its sound is dropped; only A-law packets of an audio stream are
// decoded, each into at most the 8192-byte buffer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "libs/chime/chime.h"
#include "media/audio_playback.h"
#include "transport/media_packet.h"
#include "transport/packet_queue.h"

namespace {

struct Opened {
    chime::AudioFormat format;
    std::size_t bytes = 0;
};
std::vector<std::shared_ptr<Opened>> players;

class RecordingSink final : public chime::AudioSink {
public:
    explicit RecordingSink(std::shared_ptr<Opened> opened) : opened_(std::move(opened)) {}
    bool Start() override { return true; }
    void Write(const std::uint8_t*, std::size_t length) override { opened_->bytes += length; }

private:
    std::shared_ptr<Opened> opened_;
};

std::uint32_t Le32(const std::uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void Check(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    players.clear();
    chime::SetSinkFactory([](const chime::AudioFormat& format) {
        players.push_back(std::make_shared<Opened>(Opened{format, 0}));
        return std::make_unique<RecordingSink>(players.back());
    });
    transport::PacketQueue queue;
    auto playback = std::make_unique<media::AudioPlayback>(queue, media::AudioPlayback::Style{});
    Check(playback->Open(0) && players.size() == 1);
    // The player opened for 8000 Hz mono 16-bit sound, as listening starts.
    std::optional<chime::AudioFormat> current = players[0]->format;
    Check(*current == chime::AudioFormat{});

    // Heap, exactly the size the thread uses: a decode past it is a finding.
    auto pcm = std::make_unique<std::uint8_t[]>(chime::kDecodeBufferBytes);
    transport::MediaPacket packet;
    std::size_t at = 0;
    while (size - at >= 24) {
        const std::uint8_t* description = data + at;
        at += 24;
        std::size_t length = size - at >= 2 ? static_cast<std::size_t>(data[at] | (data[at + 1] << 8)) : 0;
        at += std::min<std::size_t>(2, size - at);
        length = std::min(length, size - at);
        const std::uint8_t header[transport::kPacketHeaderSize] = {transport::kAudioPacket, 0, 1, 0};
        packet.info = transport::StreamInfo::FromBytes(description);
        packet.Store(header, sizeof header, data + at, length);
        at += length;

        const std::size_t playersBefore = players.size();
        const std::size_t bytesBefore = players.back()->bytes;
        playback->PlayPacket(packet, pcm.get());

        const bool alaw = description[2] == chime::kCodecAlaw;
        const std::uint32_t channels = description[4], rate = Le32(description + 8), bits = Le32(description + 12);
        const bool playable = channels >= 1 && rate >= 1 && rate <= static_cast<std::uint32_t>(chime::kMaxSampleRate) &&
                              (bits == 8 || bits == 16);
        std::optional<chime::AudioFormat> named;
        if (playable) named = chime::AudioFormat{static_cast<int>(channels), static_cast<int>(rate), static_cast<int>(bits)};
        if (alaw && named != current) {
            current = named;
            Check(players.size() == playersBefore + (named ? 1 : 0));
            if (named) Check(players.back()->format == *named);
        } else {
            Check(players.size() == playersBefore);
        }

        // Sound reaches the player only from an A-law packet of an audio stream, and only
        // while the player plays the stream's format.
        const std::size_t written = players.back()->bytes - (players.size() == playersBefore ? bytesBefore : 0);
        const bool sound = alaw && (description[0] | (description[1] << 8)) == media::kAudioStreamKind &&
                           current.has_value() && length > media::kAudioTrailerBytes;
        const std::size_t expected =
            sound ? 2 * std::min<std::size_t>(length - media::kAudioTrailerBytes, chime::kDecodeBufferBytes / 2) : 0;
        Check(written == expected);
    }
    playback.reset();
    chime::SetSinkFactory({});
    return 0;
}
