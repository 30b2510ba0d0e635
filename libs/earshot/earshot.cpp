#include "libs/earshot/earshot.h"

#include <algorithm>
#include <mutex>

namespace earshot {
namespace {

struct Capture {
    std::mutex mutex;
    SourceFactory factory;
    std::unique_ptr<CaptureSource> source;
    bool running = false;
};

Capture& State() {
    static Capture capture;
    return capture;
}

}  // namespace

void BlockCollector::Add(const std::uint8_t* pcm, std::size_t length, const Deliver& deliver) {
    if (pcm == nullptr || length == 0) return;
    std::size_t used = 0;
    if (!pending_.empty()) {
        const std::size_t take = std::min(kBlockBytes - pending_.size(), length);
        pending_.insert(pending_.end(), pcm, pcm + take);
        used = take;
        if (pending_.size() < kBlockBytes) return;
        deliver(pending_.data(), kBlockBytes);
        pending_.clear();
    }
    // The whole blocks straight from the chunk, without a copy.
    const std::size_t whole = (length - used) / kBlockBytes * kBlockBytes;
    if (whole > 0) deliver(pcm + used, whole);
    used += whole;
    pending_.assign(pcm + used, pcm + length);
}

bool Capturing() {
    std::lock_guard lock(State().mutex);
    return State().running;
}

void SetSourceFactory(SourceFactory factory) {
    std::lock_guard lock(State().mutex);
    State().factory = std::move(factory);
}

}  // namespace earshot

using earshot::State;

bool TARN_AudioCap_Init() {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    if (state.source) return true;
    state.source = state.factory ? state.factory() : earshot::MakeDefaultInput();
    return state.source != nullptr;
}

void TARN_AudioCap_Start(TARN_AudioCapCallback callback, void* user) {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    if (!state.source || callback == nullptr) return;
    if (state.running) state.source->Stop();
    // Each start begins with an empty block; only the source's thread touches it.
    auto collector = std::make_shared<earshot::BlockCollector>();
    state.running = state.source->Start([callback, user, collector](const std::uint8_t* pcm, std::size_t length) {
        collector->Add(pcm, length, [callback, user](const std::uint8_t* blocks, std::size_t bytes) {
            callback(blocks, static_cast<int>(bytes), user);
        });
    });
}

void TARN_AudioCap_Stop() {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    if (state.source && state.running) state.source->Stop();
    state.running = false;
}

void TARN_AudioCap_DelInit() {
    auto& state = State();
    std::lock_guard lock(state.mutex);
    if (state.source && state.running) state.source->Stop();
    state.running = false;
    state.source.reset();
}
