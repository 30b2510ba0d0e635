#pragma once
// The synthetic cameras' sound: G.711 A-law, 8 kHz mono, in packets of one 640-byte
// PCM block (320 samples, 40 ms) each. Each camera "speaks" in its own voice: a
// buzz of harmonics on a pitch taken from its id, shaped into syllables and pauses,
// made once as a two-second loop and encoded with libavcodec's pcm_alaw.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

constexpr int kAudioSampleRate = 8000;
constexpr int kAudioBlockSamples = 320;        // one 640-byte block of 16-bit PCM
constexpr int kAudioPacketMs = 40;
// Audio payloads end in two bytes of A-law silence, which the client's decoder leaves
// out of every packet (it decodes the stored length less 14 bytes).
constexpr std::size_t kAudioPadding = 2;
constexpr std::uint8_t kAlawSilence = 0xD5;

struct AudioLoop {
    std::vector<std::vector<std::uint8_t>> packets;  // coded blocks, padding included
};

// 16-bit PCM through libavcodec's pcm_alaw encoder; empty when it is not available.
std::vector<std::uint8_t> EncodeAlaw(const std::int16_t* samples, std::size_t count);

// The loop of a camera's voice (50 packets); nothing when the encoder is missing.
std::shared_ptr<const AudioLoop> MakeVoiceLoop(const std::string& cameraId);

}  // namespace sim
