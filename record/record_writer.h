#pragma once
// One recording file: "tmp.mvd" in the camera's folder, appended to frame by frame,
// renamed to "<start>_<end>.mvp" when it is finished after more than 9 seconds.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "record/record_clock.h"

namespace record {

class FolderClaim;

// How frame records reach the file. Either way each record is handed to the kernel
// in one write as soon as it is taken, so a process that dies loses at most the
// record being written.
enum class WriteMode {
    kOpenPerFrame,  // open, write, close for every frame
    kKeepOpen,      // one descriptor for the file's life
};

class RecordWriter {
public:
    RecordWriter(std::string folder, RecordClock clock, WriteMode mode);
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Creates the folder, recovers a working file left by an earlier run, and creates
    // "tmp.mvd" empty. False when it cannot be created: the frames that follow are lost.
    bool Begin();
    // Appends one frame record; false when it could not be written (the frame is lost,
    // and a partly written record is cut off again).
    bool Append(const std::uint8_t* data, std::size_t length, bool keyFrame, int width, int height, int frameRate);
    // Renames the file when more than 9 seconds passed since Begin; a shorter one stays
    // "tmp.mvd". The name of the finished file, or empty.
    std::string Finish();

    std::int64_t StartSeconds() const { return startSeconds_; }
    const std::string& WorkingPath() const { return workingPath_; }

private:
    bool AppendTo(int fd, const std::uint8_t* header, const std::uint8_t* data, std::size_t length);

    std::mutex mutex_;
    const std::string folder_;
    const std::string workingPath_;
    const RecordClock clock_;
    const WriteMode mode_;
    std::int64_t startSeconds_ = 0;
    int startDay_ = 0;
    int fd_ = -1;                 // kKeepOpen only
    std::uint64_t fileBytes_ = 0;  // the sound length of the file
    bool created_ = false;
    bool finished_ = false;
    std::unique_ptr<FolderClaim> claim_;  // while "tmp.mvd" is ours
};

}  // namespace record
