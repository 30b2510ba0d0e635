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
    // -1 is also the second before 1970 began; mktime fills in the weekday only when
    // it succeeds.
    local.tm_wday = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) && local.tm_wday == -1) return std::nullopt;
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

namespace {

// "YYYY-MM-DD hh-mm-ss" at `at`: digits exactly where FinishedName puts them.
bool ReadNameTime(const std::string& name, std::size_t at, std::tm& out) {
    static constexpr char kShape[] = "0000-00-00 00-00-00";
    int fields[6] = {};
    int field = 0;
    for (std::size_t i = 0; kShape[i] != '\0'; ++i) {
        const char c = name[at + i];
        if (kShape[i] != '0') {
            if (c != kShape[i]) return false;
            ++field;
            continue;
        }
        if (c < '0' || c > '9') return false;
        fields[field] = fields[field] * 10 + (c - '0');
    }
    const int year = fields[0], month = fields[1], day = fields[2];
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
    if (fields[3] > 23 || fields[4] > 59 || fields[5] > 60) return false;
    out = std::tm{};
    out.tm_year = year - 1900;
    out.tm_mon = month - 1;
    out.tm_mday = day;
    out.tm_hour = fields[3];
    out.tm_min = fields[4];
    out.tm_sec = fields[5];
    out.tm_isdst = -1;
    return true;
}

}  // namespace

std::optional<FinishedTimes> ReadFinishedName(const std::string& fileName) {
    // "YYYY-MM-DD hh-mm-ss" "_" "YYYY-MM-DD hh-mm-ss" ".mvp"
    constexpr std::size_t kTime = 19;
    if (fileName.size() != 2 * kTime + 1 + 4 || fileName[kTime] != '_' ||
        fileName.compare(2 * kTime + 1, 4, ".mvp") != 0)
        return std::nullopt;
    FinishedTimes times;
    if (!ReadNameTime(fileName, 0, times.start) || !ReadNameTime(fileName, kTime + 1, times.end)) return std::nullopt;
    return times;
}

std::optional<std::int64_t> StartOfFinishedName(const std::string& fileName) {
    const auto times = ReadFinishedName(fileName);
    if (!times) return std::nullopt;
    return SecondsOfLocalTime(times->start);
}

}  // namespace record
