// The exported functions: handle bookkeeping around CFFmpegDeCode. The registry lock
// is held only for the map operation; decoding runs on the caller's shared reference.

#include "vdec/vdec.h"

#include <cstdint>
#include <limits>
#include <memory>

#include "vdec/ffmpeg_decoder.h"
#include "vdec/handle_registry.h"

namespace {

using vdec::CFFmpegDeCode;
using vdec::DecodeOutcome;

using DecoderRegistry = vdec::HandleRegistry<CFFmpegDeCode, unsigned long>;

// Lives from library load to unload.
DecoderRegistry& Decoders() {
    static DecoderRegistry registry;
    return registry;
}

DecodeOutcome DecodeOn(unsigned long handle, const char* data, int dataLen, char* picture, std::size_t capacity) {
    if (picture == nullptr) return {};
    try {
        const std::shared_ptr<CFFmpegDeCode> decoder = Decoders().Find(handle);
        if (!decoder) return {};
        return decoder->Decode(reinterpret_cast<const std::uint8_t*>(data), dataLen,
                               reinterpret_cast<std::uint8_t*>(picture), capacity);
    } catch (...) {
        return {};  // nothing may escape a C export
    }
}

}  // namespace

unsigned long InitDeCode() {
    try {
        std::shared_ptr<CFFmpegDeCode> decoder = CFFmpegDeCode::Open();
        return decoder ? Decoders().Insert(std::move(decoder)) : 0;
    } catch (...) {
        return 0;
    }
}

int DeCoder(unsigned long handle, char* data, int dataLen, char* picture, int& consumed) {
    // The caller vouches for the buffer's size; this form cannot check it.
    const DecodeOutcome outcome = DecodeOn(handle, data, dataLen, picture, std::numeric_limits<std::size_t>::max());
    if (outcome.result != 1) return 0;
    consumed = outcome.consumed;
    return 1;
}

int DeCoderEx(unsigned long handle, char* data, int dataLen, char* picture, int pictureCapacity, int& consumed,
              int& width, int& height) {
    if (pictureCapacity < 0) return 0;
    const DecodeOutcome outcome = DecodeOn(handle, data, dataLen, picture, static_cast<std::size_t>(pictureCapacity));
    if (outcome.result == 0) return 0;
    consumed = outcome.consumed;
    width = outcome.width;
    height = outcome.height;
    return outcome.result;
}

bool ReleaseDeCode(unsigned long handle) {
    try {
        // The decoder closes when the last reference goes: here, or at the end of a
        // decode still running on another thread.
        return Decoders().Remove(handle) != nullptr;
    } catch (...) {
        return false;
    }
}
