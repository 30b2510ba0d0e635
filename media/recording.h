#pragma once
// Local recording of a camera: the recorder, fed by the play thread's hand-off of every
// video packet, and what a recording needs besides (its text, the key-frame requests).
// Start and Stop run on the camera's sequence; the hand-off on the play thread. Both
// hold the hand-off lock.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "media/camera_environment.h"
#include "media/stage.h"
#include "record/recorder.h"
#include "transport/video_link.h"

namespace media {

class Recording {
public:
    Recording(const CameraEnvironment& environment, transport::VideoLink& link);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Stops a recording in progress, then records into the camera's folder below the
    // record root, cutting files at "FileSize" minutes.
    bool Start(const std::string& cameraId);
    void Stop();
    // Close's end of the recording: the recorder stops (also one started without the
    // flag); when the flag was on, the text to report (the id given to Start, or empty).
    std::optional<std::string> StopForClose();

    // Every video packet while recording. A file starts on a key frame: until one comes,
    // every other frame asks the server for one and is skipped.
    void HandOff(const StageFrame& frame);

    // The flag the application sets from the outcome; it turns on the hand-off and the
    // recording mark, and Close reports the end of a recording when it is on.
    bool IsOn() const { return on_; }
    void SetOn(bool on) { on_ = on; }

    record::CRecord& Recorder() { return recorder_; }

private:
    const CameraEnvironment& environment_;
    transport::VideoLink& link_;
    std::mutex handOffMutex_;
    record::CRecord recorder_;
    std::string text_;  // the sequence's
    std::atomic<bool> keyFrameRequested_{false};
    std::atomic<bool> on_{false};
};

}  // namespace media
