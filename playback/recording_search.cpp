#include "playback/recording_search.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/paths.h"
#include "record/frame_record.h"
#include "record/recorder.h"

namespace playback {
namespace {

std::optional<TimeFields> ReadFields(const std::string& text, const char* format) {
    TimeFields f;
    const int read = std::sscanf(text.c_str(), format, &f.year, &f.month, &f.day, &f.hour, &f.minute, &f.second);
    if (read < 1) return std::nullopt;
    return f;
}

std::string Format(std::int64_t seconds, const char* format) {
    const std::tm local = record::LocalTime(seconds).value_or(std::tm{});
    char text[96];
    std::snprintf(text, sizeof text, format, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
    return text;
}

// "1%04d%02d%02d%02d%02d%02d" read as a number.
double CompareNumber(const std::string& text) {
    const TimeFields f = ReadSearchTime(text).value_or(TimeFields{});
    char number[160];
    std::snprintf(number, sizeof number, "1%04d%02d%02d%02d%02d%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
    return std::strtod(number, nullptr);
}

}  // namespace

std::optional<TimeFields> ReadSearchTime(const std::string& text) { return ReadFields(text, "%d-%d-%d %d:%d:%d"); }

std::optional<TimeFields> ReadListTime(const std::string& text) { return ReadFields(text, "%d-%d-%d-%d-%d-%d"); }

std::optional<std::int64_t> SecondsOf(const TimeFields& f) {
    if (f.year < 1900 || f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 || f.hour < 0 || f.hour > 23 ||
        f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 60)
        return std::nullopt;
    std::tm local{};
    local.tm_year = f.year - 1900;
    local.tm_mon = f.month - 1;
    local.tm_mday = f.day;
    local.tm_hour = f.hour;
    local.tm_min = f.minute;
    local.tm_sec = f.second;
    return record::SecondsOfLocalTime(local);
}

bool StartsAfterEnd(const std::string& start, const std::string& end) {
    return CompareNumber(start) - CompareNumber(end) > 0.0001;
}

std::string SearchTimeText(std::int64_t seconds) { return Format(seconds, "%04d-%02d-%02d %02d:%02d:%02d"); }
std::string ListTimeText(std::int64_t seconds) { return Format(seconds, "%04d-%02d-%02d-%02d-%02d-%02d"); }
std::string SeekTimeText(std::int64_t seconds) { return Format(seconds, "%d-%2d-%2d %2d:%2d:%2d"); }

bool ListedInWindow(std::int64_t fileStart, std::int64_t fileEnd, std::int64_t from, std::int64_t to) {
    return (from < fileStart && fileStart < to) || (fileStart < from && fileEnd > to);
}

std::vector<LocalRecording> ScanLocalRecordings(const std::string& recordRoot, const std::string& cameraId,
                                                std::int64_t from, std::int64_t to) {
    std::vector<LocalRecording> found;
    if (recordRoot.empty() || cameraId.empty()) return found;
    const std::string folder = record::RecordingFolder(recordRoot, cameraId);
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return found;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        if (error) break;
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code kind;
        if (!it->is_regular_file(kind) || kind) continue;
        const auto times = record::ReadFinishedName(name);
        if (!times) continue;
        const auto fileStart = record::SecondsOfLocalTime(times->start);
        const auto fileEnd = record::SecondsOfLocalTime(times->end);
        if (!fileStart || !fileEnd || !ListedInWindow(*fileStart, *fileEnd, from, to)) continue;
        found.push_back({*fileStart, *fileEnd, cameraId, platform::JoinPath(folder, name)});
    }
    return found;
}

void RemoteSliderFollow::SeekTo(std::int64_t target, std::int64_t nowMs) {
    pending_ = target;
    // The wait is counted from the seek too: a slider left alone for a while (paused)
    // must not give up on the seek at the first report.
    seekMs_ = nowMs;
}

std::optional<std::int64_t> RemoteSliderFollow::Progress(std::int64_t t, std::int64_t nowMs) {
    if (!pending_) {
        lastUpdateMs_ = nowMs;
        return t;
    }
    if (std::llabs(t - *pending_) < kArrivedWithinSeconds) {
        pending_.reset();
    } else if (nowMs - std::max(lastUpdateMs_, seekMs_) >= kGiveUpMs) {
        pending_.reset();
    }
    return std::nullopt;
}

}  // namespace playback
