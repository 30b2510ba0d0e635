#pragma once
// The rules of the playback search that need no window: reading and writing the time
// texts of the search fields and the recording list, the start-after-end check, the
// scan of a camera's local recording folder, and the slider's wait for a remote seek.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace playback {

struct TimeFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "%d-%d-%d %d:%d:%d" (the search fields, a remote list's times); fields that do not
// read stay 0, as with sscanf into zeroed fields. Nothing when not one field reads.
std::optional<TimeFields> ReadSearchTime(const std::string& text);
// "%d-%d-%d-%d-%d-%d" (a local row's times).
std::optional<TimeFields> ReadListTime(const std::string& text);
// Seconds since 1970 of those fields as local time; nothing for no real time.
std::optional<std::int64_t> SecondsOf(const TimeFields& fields);

// The search time check: both texts as the numbers "1YYYYMMDDhhmmss" compared as
// floating-point values; true when the start lies after the end (equal is accepted).
bool StartsAfterEnd(const std::string& start, const std::string& end);

std::string SearchTimeText(std::int64_t seconds);  // "%04d-%02d-%02d %02d:%02d:%02d"
std::string ListTimeText(std::int64_t seconds);    // "%04d-%02d-%02d-%02d-%02d-%02d"
// The time text of a remote seek: "%d-%2d-%2d %2d:%2d:%2d", padded with spaces
// (March is " 3"), as the forwarding server reads it.
std::string SeekTimeText(std::int64_t seconds);

// One finished recording found in a camera's folder.
struct LocalRecording {
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::string cameraId;
    std::string path;
};

// Whether a file of [fileStart, fileEnd] is listed for the window [from, to]: it starts
// inside the window, or it covers the whole window. A file that starts before the
// window and ends inside it is not listed.
bool ListedInWindow(std::int64_t fileStart, std::int64_t fileEnd, std::int64_t from, std::int64_t to);

// The finished recordings of a camera under the record root, in the order the folder
// gives them: names starting with "." and folders are skipped, and so is any name the
// recorder's name reader does not read exactly. An absent folder gives none.
std::vector<LocalRecording> ScanLocalRecordings(const std::string& recordRoot, const std::string& cameraId,
                                                std::int64_t from, std::int64_t to);

// The position slider during a remote playback: after a seek it stays where the user
// put it until the stream's time is within 20 s of the target, or until 5001 ms have
// passed without an update (the seek never arrived), then it follows the stream again.
class RemoteSliderFollow {
public:
    static constexpr std::int64_t kArrivedWithinSeconds = 20;
    static constexpr std::int64_t kGiveUpMs = 5001;

    void SeekTo(std::int64_t target, std::int64_t nowMs);
    void Reset() { pending_.reset(); }
    std::optional<std::int64_t> Pending() const { return pending_; }
    // The stream reported time `t`: the value the slider takes, or nothing (leave it).
    std::optional<std::int64_t> Progress(std::int64_t t, std::int64_t nowMs);

private:
    std::optional<std::int64_t> pending_;
    std::int64_t lastUpdateMs_ = 0;
    std::int64_t seekMs_ = 0;
};

}  // namespace playback
