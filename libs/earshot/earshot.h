#pragma once
// Earshot: microphone capture. After TARN_AudioCap_Start the callback receives 8 kHz
// 16-bit mono PCM from the library's own thread until TARN_AudioCap_Stop returns,
// always in whole 640-byte blocks (40 ms): devices hand over chunks of any size, the
// talk link sends whole blocks only. One capture per process.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

using TARN_AudioCapCallback = void (*)(const std::uint8_t* pcm, int length, void* user);

// True when a microphone can be captured.
bool TARN_AudioCap_Init();
void TARN_AudioCap_Start(TARN_AudioCapCallback callback, void* user);
// When it returns the callback is not running and is not called again.
void TARN_AudioCap_Stop();
void TARN_AudioCap_DelInit();

namespace earshot {

constexpr int kSampleRate = 8000;
constexpr std::size_t kBlockBytes = 640;

// Gathers chunks of any size into whole blocks, in order: Add hands every whole block
// that is complete to `deliver` (several at once when the chunk brings several) and
// keeps the rest for the next chunk.
class BlockCollector {
public:
    using Deliver = std::function<void(const std::uint8_t* pcm, std::size_t length)>;
    void Add(const std::uint8_t* pcm, std::size_t length, const Deliver& deliver);

private:
    std::vector<std::uint8_t> pending_;
};

// Where captured sound comes from. The default is the system's default input; tests
// and headless tools put a source of their own.
class CaptureSource {
public:
    using Deliver = std::function<void(const std::uint8_t* pcm, std::size_t length)>;
    virtual ~CaptureSource() = default;
    // Calls `deliver` from a thread of the source's own until Stop.
    virtual bool Start(Deliver deliver) = 0;
    // Returns when `deliver` is no longer running.
    virtual void Stop() = 0;
};

// Whether a capture runs (TARN_AudioCap_Start found a source that started).
bool Capturing();

// nullptr from the factory means there is no microphone: Init is false.
using SourceFactory = std::function<std::unique_ptr<CaptureSource>()>;
// An empty factory restores the default input.
void SetSourceFactory(SourceFactory factory);

// The default input through Qt Multimedia; nullptr without an application object or
// an input device.
std::unique_ptr<CaptureSource> MakeDefaultInput();

}  // namespace earshot
