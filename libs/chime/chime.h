#pragma once
// Chime: audio coding and playback for listening and talkback. Codec 101 is G.711
// A-law (8 kHz, 16-bit mono PCM). The player plays on the default output through Qt
// Multimedia; where there is no output device OpenAudio gives 0. Handles are never
// reused, and a call with a released or unknown handle does nothing (0).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace chime {

using Handle = std::uintptr_t;

constexpr int kCodecAlaw = 101;
// The callers' decode buffer; Decode never writes more than this.
constexpr int kDecodeBufferBytes = 8192;
// The highest sample rate OpenAudio takes.
constexpr int kMaxSampleRate = 192000;

Handle InitDec(int codec);
void DelInitDec(Handle decoder);
// PCM bytes written to `out` (at most kDecodeBufferBytes); 0 for an unknown handle
// or no input.
int Decode(Handle decoder, const std::uint8_t* coded, int length, std::uint8_t* out);

Handle InitEnc(int codec);
void DelInitEnc(Handle encoder);
// Coded bytes written to `out` (length / 2 for A-law); 0 for an unknown handle.
int Encode(Handle encoder, const std::uint8_t* pcm, int length, std::uint8_t* out);

// The window is the caller's display window; the sound goes to the default output.
Handle OpenAudio(std::uint64_t window, std::uint8_t channels, int sampleRate, std::uint16_t bitsPerSample);
// Nonzero when the player runs. A player also starts with its first data, so callers
// that never call Play still hear it.
int Play(Handle player);
void AddAudioData(Handle player, const std::uint8_t* pcm, int length);
void CloseAudio(Handle player);

// Where a player's sound goes. The default is the system's default output; tests and
// headless tools put a sink of their own.
struct AudioFormat {
    int channels = 1;
    int sampleRate = 8000;
    int bitsPerSample = 16;
    bool operator==(const AudioFormat&) const = default;
};

class AudioSink {
public:
    virtual ~AudioSink() = default;
    virtual bool Start() = 0;
    virtual void Write(const std::uint8_t* pcm, std::size_t length) = 0;
};

// nullptr from the factory means no output device: OpenAudio gives 0.
using SinkFactory = std::function<std::unique_ptr<AudioSink>(const AudioFormat&)>;
// An empty factory restores the default output.
void SetSinkFactory(SinkFactory factory);

// G.711 A-law of one sample and back (ITU-T G.711, the even bits inverted).
std::uint8_t LinearToAlaw(std::int16_t sample);
std::int16_t AlawToLinear(std::uint8_t code);

}  // namespace chime
