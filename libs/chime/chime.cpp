#include "libs/chime/chime.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "libs/chime/qt_output.h"

namespace chime {
namespace {

// Handles name shared objects, so a call racing a release still finds a live object
// or nothing, never a freed one.
template <class T>
class HandleTable {
public:
    Handle Add(std::shared_ptr<T> object) {
        std::lock_guard lock(mutex_);
        const Handle handle = next_++;
        objects_.emplace(handle, std::move(object));
        return handle;
    }
    std::shared_ptr<T> Find(Handle handle) {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second;
    }
    std::shared_ptr<T> Remove(Handle handle) {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(handle);
        if (it == objects_.end()) return nullptr;
        std::shared_ptr<T> object = std::move(it->second);
        objects_.erase(it);
        return object;
    }

private:
    std::mutex mutex_;
    Handle next_ = 1;
    std::map<Handle, std::shared_ptr<T>> objects_;
};

struct Codec {
    int id = 0;
};

struct Player {
    std::mutex mutex;
    std::unique_ptr<AudioSink> sink;
    bool started = false;
};

HandleTable<Codec>& Decoders() {
    static HandleTable<Codec> table;
    return table;
}
HandleTable<Codec>& Encoders() {
    static HandleTable<Codec> table;
    return table;
}
HandleTable<Player>& Players() {
    static HandleTable<Player> table;
    return table;
}

std::mutex factoryMutex;
SinkFactory& Factory() {
    static SinkFactory factory;
    return factory;
}

}  // namespace

Handle InitDec(int codec) {
    if (codec != kCodecAlaw) return 0;
    return Decoders().Add(std::make_shared<Codec>(Codec{codec}));
}

void DelInitDec(Handle decoder) { Decoders().Remove(decoder); }

int Decode(Handle decoder, const std::uint8_t* coded, int length, std::uint8_t* out) {
    if (coded == nullptr || out == nullptr || length <= 0 || !Decoders().Find(decoder)) return 0;
    // One byte per sample: whatever would overrun the caller's buffer is left out.
    const int samples = std::min(length, kDecodeBufferBytes / 2);
    for (int i = 0; i < samples; ++i) {
        const auto value = static_cast<std::uint16_t>(AlawToLinear(coded[i]));
        out[2 * i] = static_cast<std::uint8_t>(value & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    return samples * 2;
}

Handle InitEnc(int codec) {
    if (codec != kCodecAlaw) return 0;
    return Encoders().Add(std::make_shared<Codec>(Codec{codec}));
}

void DelInitEnc(Handle encoder) { Encoders().Remove(encoder); }

int Encode(Handle encoder, const std::uint8_t* pcm, int length, std::uint8_t* out) {
    if (pcm == nullptr || out == nullptr || length <= 1 || !Encoders().Find(encoder)) return 0;
    const int samples = length / 2;
    for (int i = 0; i < samples; ++i) {
        const auto value = static_cast<std::int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
        out[i] = LinearToAlaw(value);
    }
    return samples;
}

Handle OpenAudio(std::uint64_t window, std::uint8_t channels, int sampleRate, std::uint16_t bitsPerSample) {
    if (channels == 0 || sampleRate <= 0 || sampleRate > kMaxSampleRate || (bitsPerSample != 8 && bitsPerSample != 16))
        return 0;
    const AudioFormat format{channels, sampleRate, bitsPerSample};
    std::unique_ptr<AudioSink> sink;
    {
        std::lock_guard lock(factoryMutex);
        sink = Factory() ? Factory()(format) : MakeDefaultOutput(format);
    }
    if (!sink) return 0;
    auto player = std::make_shared<Player>();
    player->sink = std::move(sink);
    return Players().Add(std::move(player));
}

int Play(Handle handle) {
    auto player = Players().Find(handle);
    if (!player) return 0;
    std::lock_guard lock(player->mutex);
    if (!player->started) player->started = player->sink->Start();
    return player->started ? 1 : 0;
}

void AddAudioData(Handle handle, const std::uint8_t* pcm, int length) {
    if (pcm == nullptr || length <= 0) return;
    auto player = Players().Find(handle);
    if (!player) return;
    std::lock_guard lock(player->mutex);
    if (!player->started) player->started = player->sink->Start();
    if (player->started) player->sink->Write(pcm, static_cast<std::size_t>(length));
}

void CloseAudio(Handle handle) {
    std::shared_ptr<Player> player = Players().Remove(handle);
    if (!player) return;
    // A writer still inside AddAudioData finishes before the sink goes.
    std::lock_guard lock(player->mutex);
    player->sink.reset();
}

void SetSinkFactory(SinkFactory factory) {
    std::lock_guard lock(factoryMutex);
    Factory() = std::move(factory);
}

}  // namespace chime
