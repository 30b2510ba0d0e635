#include "libs/earshot/earshot.h"

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
    state.running = state.source->Start([callback, user](const std::uint8_t* pcm, std::size_t length) {
        if (length > 0) callback(pcm, static_cast<int>(length), user);
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
