#pragma once
// The local recording files: the working file "tmp.mvd" and the finished ".mvp"
// files are a plain sequence of frame records, each a 36-byte little-endian header
// and the frame's H.264 access unit as received.
//
//   0 0 | 4 writer's ms tick | 8 record length (36 + n) | 12 packed local time
//   16 width | 20 height | 24 frame rate | 28 2 | 32 1 key frame, else 0 | 36 data

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace record {

constexpr std::size_t kFrameHeaderSize = 36;
constexpr const char* kWorkingFileName = "tmp.mvd";
// A frame larger than this is not a camera's frame; the recovery stops at it.
constexpr std::uint32_t kMaxFrameBytes = 64u << 20;

struct FrameHeader {
    std::uint32_t tick = 0;
    std::uint32_t recordLength = 0;  // header included
    std::uint32_t packedTime = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t frameRate = 0;
    std::uint32_t keyFrame = 0;
};

// bits 0-5 year - 2000 (mod 64), 6-9 month, 10-14 day, 15-19 hour, 20-25 minute,
// 26-31 second. Without a local time: year, month and day 0, the rest all ones.
std::uint32_t PackLocalTime(const std::tm* local);
// The local time a packed word names, or nothing when a field is out of range.
std::optional<std::tm> UnpackLocalTime(std::uint32_t packed);

void EncodeFrameHeader(const FrameHeader& header, std::uint8_t out[kFrameHeaderSize]);

// Reads a header; false when the bytes are not a frame record's header (the length
// is checked against kMaxFrameBytes, not against what follows).
bool DecodeFrameHeader(const std::uint8_t in[kFrameHeaderSize], FrameHeader& header);

// A frame record as found in a file.
struct FoundFrame {
    FrameHeader header;
    const std::uint8_t* data = nullptr;
    std::size_t dataLength = 0;
    std::size_t offset = 0;  // of the header in the scanned bytes
};

// Walks the records from the start of `bytes` and stops at the first one that is
// not whole and sound (a torn tail, or bytes that are not a record). `visit` may end
// the walk by returning false. The result is the length of the sound prefix.
std::size_t ScanFrameRecords(const std::uint8_t* bytes, std::size_t length,
                             const std::function<bool(const FoundFrame&)>& visit = {});

// "%04d-%02d-%02d %02d-%02d-%02d_%04d-%02d-%02d %02d-%02d-%02d.mvp" of two local times.
std::string FinishedName(const std::tm& start, const std::tm& end);
std::string FinishedName(std::int64_t startSeconds, std::int64_t endSeconds);
// The local start and end times a finished file's name gives. Only names as
// FinishedName writes them are read: every field with exactly its digits, a real
// date and time of day, exactly ".mvp". The sweeper deletes what this reads, so a
// file the user named "1-1-1 1-1-1_1-1-1 1-1-1.mvp" (or with month 13) is left alone.
struct FinishedTimes {
    std::tm start{};
    std::tm end{};
};
std::optional<FinishedTimes> ReadFinishedName(const std::string& fileName);
// The start of a finished file's name as seconds since 1970 (local time).
std::optional<std::int64_t> StartOfFinishedName(const std::string& fileName);

std::optional<std::tm> LocalTime(std::int64_t seconds);
// Seconds since 1970 of a local time; nothing when it has none.
std::optional<std::int64_t> SecondsOfLocalTime(std::tm local);
// Renames `from` to `folder/name` without replacing a file of that name: a taken
// name moves the end time on by a second (up to a minute). The name used, or empty.
std::string RenameFinished(const std::string& from, const std::string& folder, std::int64_t startSeconds,
                           std::int64_t endSeconds);

}  // namespace record
