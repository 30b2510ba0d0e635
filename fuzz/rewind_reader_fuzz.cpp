// Arbitrary bytes as a recording for the playback library: the index of frames with
// their recorded times, from memory and from a file, the key-frame look-ups a seek and
// an export make, and the reading of every indexed frame.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "libs/rewind/recording_reader.h"

using rewindlib::RecordingIndex;

namespace {

std::int64_t Le64(const std::uint8_t* data, std::size_t size, std::size_t at) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8 && at + i < size; ++i) value |= static_cast<std::uint64_t>(data[at + i]) << (8 * i);
    return static_cast<std::int64_t>(value);
}

void CheckIndex(const RecordingIndex& index, const std::uint8_t* data, std::size_t size) {
    const auto& frames = index.Frames();
    if (index.SoundBytes() > size) abort();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        if (f.offset > size || f.length > size - f.offset) abort();
        if (i > 0) {
            if (f.timeMs < frames[i - 1].timeMs) abort();
            const std::int64_t step = f.playMs - frames[i - 1].playMs;
            if (step < 0 || step > rewindlib::kMaxGapMs) abort();
        }
    }
    if (index.Playable() != (index.FirstKey() != RecordingIndex::npos)) abort();
    if (index.Playable() && !frames[index.FirstKey()].key) abort();
    if (frames.empty()) return;
    // Seeks: before the start, at each end, and to times the input names.
    const std::int64_t first = rewindlib::SecondsOf(frames.front().timeMs);
    const std::int64_t last = rewindlib::SecondsOf(frames.back().timeMs);
    for (std::int64_t t : {first - 1, first, last, last + 1, Le64(data, size, 0), Le64(data, size, 8)}) {
        const std::size_t key = index.KeyAtOrBefore(t);
        if (key != RecordingIndex::npos) {
            if (key >= frames.size() || !frames[key].key) abort();
            if (key != index.FirstKey() && rewindlib::SecondsOf(frames[key].timeMs) > t) abort();
        } else if (index.Playable() && t <= last) {
            abort();
        }
        const std::size_t at = index.LastAtOrBefore(t);
        if (at != RecordingIndex::npos && (at >= frames.size() || rewindlib::SecondsOf(frames[at].timeMs) > t)) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto memory = rewindlib::MemorySource(data, size);
    const RecordingIndex index = RecordingIndex::Build(*memory);
    CheckIndex(index, data, size);
    std::vector<std::uint8_t> frame;
    for (const auto& f : index.Frames()) {
        if (!rewindlib::ReadFrame(*memory, f, frame) || frame.size() != f.length) abort();
    }

    // The same bytes as a file read the same way.
    static const std::string path = [] {
        char pattern[] = "/tmp/larkview-fuzz-rewind-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) abort();
        close(fd);
        return std::string(pattern);
    }();
    static const bool removedAtExit = std::atexit([] { std::remove(path.c_str()); }) == 0;
    (void)removedAtExit;
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, file);
        std::fclose(file);
        auto source = rewindlib::OpenFileSource(path);
        if (!source) abort();
        const RecordingIndex fromFile = RecordingIndex::Build(*source);
        if (fromFile.FrameCount() != index.FrameCount() || fromFile.SoundBytes() != index.SoundBytes()) abort();
    }
    return 0;
}
