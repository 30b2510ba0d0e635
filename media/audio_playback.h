#pragma once
// Plays one queue of A-law audio packets through a Chime player on a thread of its own:
// the camera's sound while listening, and the camera's answer during talkback. The
// decoder and the player are opened and released only while the thread rests; the
// thread itself reopens the player when the stream announces another format.

#include <cstdint>
#include <optional>

#include "core/thread_wrapper.h"
#include "libs/chime/chime.h"
#include "platform/window_handles.h"
#include "transport/packet_queue.h"

namespace media {

// A stored audio packet is its 12-byte packet header, the coded sound, and two bytes
// that are not part of the sound: Decode gets the stored length less these 14.
constexpr std::size_t kAudioTrailerBytes = 2;
constexpr std::size_t kAudioOverheadBytes = transport::kPacketHeaderSize + kAudioTrailerBytes;
// The kind of an audio stream description (video is 0).
constexpr std::uint16_t kAudioStreamKind = 1;

// The player format an audio stream description names, read whole (a channel byte,
// 32-bit rate and bits: 65552 bits are not 16); nothing when the player cannot play
// it (a rate of 0 or above 192 kHz, other than 8 or 16 bits, no channels).
std::optional<chime::AudioFormat> PlayerFormatOf(const transport::StreamInfo& info);

class AudioPlayback {
public:
    struct Style {
        // The rest after finding the queue empty.
        std::uint32_t idleWaitMs = 50;
        // Listening: only A-law packets of an audio stream are played, and a packet whose
        // stream description names another channel count, rate or sample size reopens the
        // player for it first. The talk answer is played as it comes.
        bool followStreamFormat = true;
    };
    static constexpr std::uint32_t kPollMs = 5;

    AudioPlayback(transport::PacketQueue& queue, Style style);
    ~AudioPlayback();
    AudioPlayback(const AudioPlayback&) = delete;
    AudioPlayback& operator=(const AudioPlayback&) = delete;

    // Stops the thread, releases what was open, and opens a decoder and a player for
    // 8000 Hz mono 16-bit sound on `window`; false when no player could be opened.
    bool Open(platform::WindowHandle window);
    // Chime's Play on the player: nonzero when it runs.
    int StartPlayer();
    chime::Handle Player() const { return player_; }
    // The thread, unless it runs.
    void Start();
    // The thread ends before anything it uses is released.
    void Stop();
    void Release();
    bool Running() const { return thread_.IsRunning(); }

    // One packet as the thread plays it, on the calling thread; only while the thread
    // does not run. `pcm` holds chime::kDecodeBufferBytes.
    void PlayPacket(const transport::MediaPacket& packet, std::uint8_t* pcm);

private:
    void Loop(core::ThreadWrapper& thread);

    transport::PacketQueue& queue_;
    const Style style_;
    platform::WindowHandle window_ = 0;
    // What the player is open for; nothing when the stream names no playable format.
    std::optional<chime::AudioFormat> playerFormat_;
    chime::Handle decoder_ = 0;
    chime::Handle player_ = 0;
    core::ThreadWrapper thread_;
};

}  // namespace media
