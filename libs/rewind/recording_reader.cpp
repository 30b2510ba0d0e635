#include "libs/rewind/recording_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "record/frame_record.h"

namespace rewindlib {
namespace {

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t length) override {
        if (offset > size_ || length > size_ - offset) return false;
        auto* at = static_cast<std::uint8_t*>(out);
        while (length > 0) {
            const ssize_t got = ::pread(fd_, at, length, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // shortened under us, or an I/O error
            at += got;
            offset += static_cast<std::uint64_t>(got);
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    const int fd_;
    const std::uint64_t size_;
};

class BytesSource final : public ByteSource {
public:
    BytesSource(const std::uint8_t* bytes, std::size_t length) : bytes_(bytes), length_(length) {}
    std::uint64_t Size() const override { return length_; }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t length) override {
        if (offset > length_ || length > length_ - offset) return false;
        if (length > 0) std::memcpy(out, bytes_ + offset, length);
        return true;
    }

private:
    const std::uint8_t* const bytes_;
    const std::size_t length_;
};

struct RawRecord {
    record::FrameHeader header;
    std::uint64_t dataOffset = 0;
    std::optional<std::int64_t> second;  // of the packed local time
};

// Two ticks of a 32-bit millisecond counter: how far the second is after the first.
std::int64_t TickDistance(std::uint32_t from, std::uint32_t to) { return static_cast<std::uint32_t>(to - from); }

// Ticks and the packed clock may disagree by this much before the clock wins (a tick
// counter that was torn, or a clock that was set).
constexpr std::int64_t kClockToleranceMs = 1000;

}  // namespace

std::unique_ptr<ByteSource> OpenFileSource(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    return std::make_unique<FileSource>(fd, static_cast<std::uint64_t>(info.st_size));
}

std::unique_ptr<ByteSource> MemorySource(const std::uint8_t* bytes, std::size_t length) {
    return std::make_unique<BytesSource>(bytes, length);
}

RecordingIndex RecordingIndex::Build(ByteSource& source) {
    RecordingIndex index;
    const std::uint64_t size = source.Size();

    // The records' headers, as far as they are whole and sound.
    std::vector<RawRecord> raw;
    std::uint64_t offset = 0;
    std::uint32_t lastPacked = 0;
    std::optional<std::int64_t> lastSecond;
    bool havePacked = false;
    while (size - offset >= record::kFrameHeaderSize && raw.size() < kMaxFrames) {
        std::uint8_t bytes[record::kFrameHeaderSize];
        RawRecord one;
        if (!source.ReadAt(offset, bytes, sizeof bytes) || !record::DecodeFrameHeader(bytes, one.header) ||
            one.header.recordLength > size - offset)
            break;
        one.dataOffset = offset + record::kFrameHeaderSize;
        // Neighbouring records mostly share their second: convert each packed word once.
        if (!havePacked || one.header.packedTime != lastPacked) {
            lastPacked = one.header.packedTime;
            havePacked = true;
            lastSecond.reset();
            if (const auto local = record::UnpackLocalTime(lastPacked)) lastSecond = record::SecondsOfLocalTime(*local);
        }
        one.second = lastSecond;
        raw.push_back(one);
        offset += one.header.recordLength;
    }
    index.soundBytes_ = offset;
    if (raw.empty()) return index;

    const std::uint32_t rate = raw.front().header.frameRate;
    if (rate >= 1 && rate <= 240) index.frameIntervalMs_ = std::max<std::int64_t>(1, 1000 / rate);

    // Where within its second the first frame was written: the tick distance to the
    // first frame of the next second says it.
    std::int64_t firstMs = raw.front().second ? *raw.front().second * 1000 : 0;
    if (raw.front().second) {
        for (std::size_t j = 1; j < raw.size(); ++j) {
            const std::int64_t elapsed = TickDistance(raw.front().header.tick, raw[j].header.tick);
            if (elapsed > 1000) break;
            if (raw[j].second && *raw[j].second == *raw.front().second + 1) {
                firstMs += std::clamp<std::int64_t>(1000 - elapsed, 0, 999);
                break;
            }
        }
    }

    index.frames_.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const RawRecord& r = raw[i];
        IndexedFrame frame;
        frame.offset = r.dataOffset;
        frame.length = r.header.recordLength - static_cast<std::uint32_t>(record::kFrameHeaderSize);
        frame.width = r.header.width;
        frame.height = r.header.height;
        frame.key = r.header.keyFrame == 1;
        if (i == 0) {
            frame.timeMs = firstMs;
        } else {
            const IndexedFrame& previous = index.frames_.back();
            std::int64_t step = TickDistance(raw[i - 1].header.tick, r.header.tick);
            if (step > 10 * 60 * 1000) step = index.frameIntervalMs_;  // a tick that went back, or was torn
            std::int64_t time = previous.timeMs + step;
            if (r.second) {
                const std::int64_t secondStart = *r.second * 1000;
                if (time < secondStart - kClockToleranceMs || time > secondStart + 999 + kClockToleranceMs)
                    time = std::max(previous.timeMs, secondStart);
            }
            frame.timeMs = time;
            frame.playMs = previous.playMs + std::min(time - previous.timeMs, kMaxGapMs);
        }
        if (frame.key) {
            if (index.firstKey_ == npos) index.firstKey_ = i;
            index.keys_.push_back(i);
        }
        index.frames_.push_back(frame);
    }
    return index;
}

std::size_t RecordingIndex::KeyAtOrBefore(std::int64_t seconds) const {
    if (keys_.empty() || frames_.empty()) return npos;
    if (seconds > SecondsOf(frames_.back().timeMs)) return npos;
    // The first key frame whose second is after `seconds`; the one before it is ours.
    const auto after = std::upper_bound(keys_.begin(), keys_.end(), seconds, [this](std::int64_t s, std::size_t k) {
        return s < SecondsOf(frames_[k].timeMs);
    });
    return after == keys_.begin() ? keys_.front() : *(after - 1);
}

std::size_t RecordingIndex::LastAtOrBefore(std::int64_t seconds) const {
    const auto after = std::upper_bound(frames_.begin(), frames_.end(), seconds,
                                        [](std::int64_t s, const IndexedFrame& f) { return s < SecondsOf(f.timeMs); });
    return after == frames_.begin() ? npos : static_cast<std::size_t>(after - frames_.begin() - 1);
}

bool ReadFrame(ByteSource& source, const IndexedFrame& frame, std::vector<std::uint8_t>& out) {
    out.resize(frame.length);
    return source.ReadAt(frame.offset, out.data(), out.size());
}

}  // namespace rewindlib
