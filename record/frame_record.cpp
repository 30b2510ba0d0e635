#include "record/frame_record.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace record {
namespace {

void PutLe32(std::uint8_t* out, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) out[b] = static_cast<std::uint8_t>(value >> (8 * b));
}

std::uint32_t GetLe32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

}  // namespace

std::uint32_t PackLocalTime(const std::tm* local) {
    if (local == nullptr) return (0x1Fu << 15) | (0x3Fu << 20) | (0x3Fu << 26);
    const auto year = static_cast<std::uint32_t>(local->tm_year + 1900 - 2000) & 0x3F;
    return year | (static_cast<std::uint32_t>(local->tm_mon + 1) & 0xF) << 6 |
           (static_cast<std::uint32_t>(local->tm_mday) & 0x1F) << 10 |
           (static_cast<std::uint32_t>(local->tm_hour) & 0x1F) << 15 |
           (static_cast<std::uint32_t>(local->tm_min) & 0x3F) << 20 |
           (static_cast<std::uint32_t>(local->tm_sec) & 0x3F) << 26;
}

std::optional<std::tm> UnpackLocalTime(std::uint32_t packed) {
    std::tm t{};
    t.tm_year = static_cast<int>(packed & 0x3F) + 2000 - 1900;
    t.tm_mon = static_cast<int>((packed >> 6) & 0xF) - 1;
    t.tm_mday = static_cast<int>((packed >> 10) & 0x1F);
    t.tm_hour = static_cast<int>((packed >> 15) & 0x1F);
    t.tm_min = static_cast<int>((packed >> 20) & 0x3F);
    t.tm_sec = static_cast<int>((packed >> 26) & 0x3F);
    if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_hour > 23 || t.tm_min > 59 || t.tm_sec > 60)
        return std::nullopt;
    t.tm_isdst = -1;
    return t;
}

void EncodeFrameHeader(const FrameHeader& header, std::uint8_t out[kFrameHeaderSize]) {
    PutLe32(out + 0, 0);
    PutLe32(out + 4, header.tick);
    PutLe32(out + 8, header.recordLength);
    PutLe32(out + 12, header.packedTime);
    PutLe32(out + 16, header.width);
    PutLe32(out + 20, header.height);
    PutLe32(out + 24, header.frameRate);
    PutLe32(out + 28, 2);
    PutLe32(out + 32, header.keyFrame);
}

bool DecodeFrameHeader(const std::uint8_t at[kFrameHeaderSize], FrameHeader& header) {
    header.tick = GetLe32(at + 4);
    header.recordLength = GetLe32(at + 8);
    header.packedTime = GetLe32(at + 12);
    header.width = GetLe32(at + 16);
    header.height = GetLe32(at + 20);
    header.frameRate = GetLe32(at + 24);
    header.keyFrame = GetLe32(at + 32);
    return GetLe32(at) == 0 && GetLe32(at + 28) == 2 && header.keyFrame <= 1 &&
           header.recordLength >= kFrameHeaderSize && header.recordLength - kFrameHeaderSize <= kMaxFrameBytes;
}

std::size_t ScanFrameRecords(const std::uint8_t* bytes, std::size_t length,
                             const std::function<bool(const FoundFrame&)>& visit) {
    std::size_t offset = 0;
    while (bytes != nullptr && length - offset >= kFrameHeaderSize) {
        const std::uint8_t* at = bytes + offset;
        FoundFrame frame;
        frame.offset = offset;
        if (!DecodeFrameHeader(at, frame.header) || frame.header.recordLength > length - offset) break;
        const std::uint32_t recordLength = frame.header.recordLength;
        frame.data = at + kFrameHeaderSize;
        frame.dataLength = recordLength - kFrameHeaderSize;
        if (visit && !visit(frame)) break;
        offset += recordLength;
    }
    return offset;
}

std::string FinishedName(const std::tm& s, const std::tm& e) {
    char name[128];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d %02d-%02d-%02d_%04d-%02d-%02d %02d-%02d-%02d.mvp",
                  s.tm_year + 1900, s.tm_mon + 1, s.tm_mday, s.tm_hour, s.tm_min, s.tm_sec, e.tm_year + 1900,
                  e.tm_mon + 1, e.tm_mday, e.tm_hour, e.tm_min, e.tm_sec);
    return name;
}

std::optional<std::tm> LocalTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) return std::nullopt;
    return local;
}

std::string FinishedName(std::int64_t startSeconds, std::int64_t endSeconds) {
    const std::tm start = LocalTime(startSeconds).value_or(std::tm{});
    const std::tm end = LocalTime(endSeconds).value_or(std::tm{});
    return FinishedName(start, end);
}

std::optional<std::int64_t> SecondsOfLocalTime(std::tm local) {
    local.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(seconds);
}

std::string RenameFinished(const std::string& from, const std::string& folder, std::int64_t startSeconds,
                           std::int64_t endSeconds) {
    for (int bump = 0; bump < 60; ++bump) {
        const std::string name = FinishedName(startSeconds, endSeconds + bump);
        const std::string to = folder + "/" + name;
        if (::access(to.c_str(), F_OK) == 0) continue;
        return std::rename(from.c_str(), to.c_str()) == 0 ? name : std::string();
    }
    return {};
}

std::optional<std::int64_t> StartOfFinishedName(const std::string& fileName) {
    if (fileName.size() < 4 || fileName.compare(fileName.size() - 4, 4, ".mvp") != 0) return std::nullopt;
    int v[12];
    int consumed = 0;
    if (std::sscanf(fileName.c_str(), "%d-%d-%d %d-%d-%d_%d-%d-%d %d-%d-%d%n", &v[0], &v[1], &v[2], &v[3], &v[4],
                    &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &consumed) != 12)
        return std::nullopt;
    if (fileName.compare(static_cast<std::size_t>(consumed), std::string::npos, ".mvp") != 0) return std::nullopt;
    std::tm start{};
    start.tm_year = v[0] - 1900;
    start.tm_mon = v[1] - 1;
    start.tm_mday = v[2];
    start.tm_hour = v[3];
    start.tm_min = v[4];
    start.tm_sec = v[5];
    return SecondsOfLocalTime(start);
}

}  // namespace record
