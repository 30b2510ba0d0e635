#pragma once
// The local recorder of one camera. It receives every video packet while recording,
// starts each file on a key frame, cuts files at the configured length, and leaves
// finished files named after their start and end times.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "record/record_clock.h"
#include "record/record_writer.h"
#include "record/recording_settings.h"

namespace record {

class CRecord {
public:
    explicit CRecord(RecordClock clock = RecordClock::System(), WriteMode mode = WriteMode::kOpenPerFrame);
    virtual ~CRecord();
    CRecord(const CRecord&) = delete;
    CRecord& operator=(const CRecord&) = delete;

    // Creates the folder (and its parents); false when it does not exist afterwards.
    bool Start(const std::string& folder, const std::string& name, int minutes);
    // Writes one frame; frames before the first key frame of a file are skipped.
    bool Write(const std::uint8_t* data, std::size_t length, bool keyFrame, int width, int height, int frameRate);
    // Finishes the current file (renamed when longer than 9 seconds) and stops.
    void Stop();
    // A new file length; a recording in progress cuts its files by it from now on.
    void SetFileMinutes(int minutes);
    int FileMinutes() const;

    bool IsRecording() const;
    bool IsWaitingForKeyFrame() const;
    // The camera saw the key frame the recorder waits for.
    void ClearKeyFrameWait();
    std::string Folder() const;

private:
    mutable std::mutex mutex_;  // Write runs on the play thread, Start and Stop elsewhere
    const RecordClock clock_;
    const WriteMode mode_;
    bool recording_ = false;
    bool waitingForKeyFrame_ = false;
    std::string folder_;
    std::string name_;
    std::int64_t limitSeconds_ = kDefaultFileMinutes * 60;
    std::int64_t startSeconds_ = 0;
    std::unique_ptr<RecordWriter> writer_;
};

// The folder name a camera's recordings go under. The id comes from the service, so it
// is only used as it stands when it is a plain name (letters, digits, '-', '_', '.', not
// starting with a dot, at most kMaxPlainFolderName bytes); any other id gets "id@" and
// the MD5 of the id: stable for the same id, never a path of its own, and unlike any
// plain name.
std::string CameraFolderName(const std::string& cameraId);
constexpr std::size_t kMaxPlainFolderName = 64;

// The camera's recording folder directly below the record root.
std::string RecordingFolder(const std::string& root, const std::string& cameraId);

}  // namespace record
