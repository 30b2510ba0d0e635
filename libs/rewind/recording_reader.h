#pragma once
// Reading a local recording: its frame records walked header by header into an index
// of frames with their recorded times, and the frames' bytes read on demand. A file is
// read up to its length when opened, so the working file of a recording in progress
// ends where the writer was.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rewindlib {

// Where a recording's bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Exactly `length` bytes at `offset`; false on a short read or an error.
    virtual bool ReadAt(std::uint64_t offset, void* out, std::size_t length) = 0;
};

// A file as it is now; null when it cannot be opened (errno tells why).
std::unique_ptr<ByteSource> OpenFileSource(const std::string& path);
// Bytes held by the caller for the source's life.
std::unique_ptr<ByteSource> MemorySource(const std::uint8_t* bytes, std::size_t length);

struct IndexedFrame {
    std::uint64_t offset = 0;  // of the frame's data
    std::uint32_t length = 0;
    // Recorded local time in milliseconds since 1970: the packed second of the record,
    // placed within the second by the writer's tick. Never decreasing.
    std::int64_t timeMs = 0;
    // Milliseconds from the first frame by the writer's ticks, with every gap cut to
    // kMaxGapMs: what playback paces by and what an export stamps.
    std::int64_t playMs = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool key = false;
};

// A gap between two frames longer than this (the camera was away, or a torn tick) is
// played and exported as this long.
constexpr std::int64_t kMaxGapMs = 3000;
// More frames than a day of 90 frames a second is not a recording the recorder writes.
constexpr std::size_t kMaxFrames = 8u << 20;

class RecordingIndex {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Walks the records from the start; stops at the first torn or foreign one.
    static RecordingIndex Build(ByteSource& source);

    const std::vector<IndexedFrame>& Frames() const { return frames_; }
    std::size_t FrameCount() const { return frames_.size(); }
    // Something to play: at least one key frame.
    bool Playable() const { return firstKey_ != npos; }
    std::size_t FirstKey() const { return firstKey_; }
    // The key frame at or before `seconds` (recorded local time, seconds since 1970):
    // the first key frame for a time before it, npos for a time after the last frame.
    std::size_t KeyAtOrBefore(std::int64_t seconds) const;
    // The last frame whose second is at or before `seconds`; npos when none is.
    std::size_t LastAtOrBefore(std::int64_t seconds) const;
    // The time one frame lasts, from the recorded frame rate (40 ms when it has none).
    std::int64_t FrameIntervalMs() const { return frameIntervalMs_; }
    // Bytes of sound records from the start of the file.
    std::uint64_t SoundBytes() const { return soundBytes_; }

private:
    std::vector<IndexedFrame> frames_;
    std::vector<std::size_t> keys_;  // indexes of the key frames, in order
    std::size_t firstKey_ = npos;
    std::int64_t frameIntervalMs_ = 40;
    std::uint64_t soundBytes_ = 0;
};

// Reads one frame's access unit into `out`; false when the bytes cannot be read.
bool ReadFrame(ByteSource& source, const IndexedFrame& frame, std::vector<std::uint8_t>& out);

// Seconds since 1970 of a recorded time in milliseconds (rounding down, before 1970 too).
inline std::int64_t SecondsOf(std::int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }

}  // namespace rewindlib
