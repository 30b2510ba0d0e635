#include "media/recording.h"

#include "record/recording_settings.h"

namespace media {

Recording::Recording(const CameraEnvironment& environment, transport::VideoLink& link)
    : environment_(environment),
      link_(link),
      recorder_(environment.recordClock, environment.recordMode) {}

Recording::~Recording() { recorder_.Stop(); }

bool Recording::Start(const std::string& cameraId) {
    // The settings are read before the hand-off lock: the play thread never waits for them.
    const std::string root = environment_.recordRoot ? environment_.recordRoot() : std::string();
    const int minutes = environment_.recordMinutes ? environment_.recordMinutes() : record::kDefaultFileMinutes;
    std::lock_guard lock(handOffMutex_);
    if (recorder_.IsRecording()) recorder_.Stop();
    text_ = cameraId;
    if (root.empty() || cameraId.empty()) return false;
    return recorder_.Start(record::RecordingFolder(root, cameraId), cameraId,
                           minutes > 0 ? minutes : record::kDefaultFileMinutes);
}

void Recording::Stop() {
    std::lock_guard lock(handOffMutex_);
    if (recorder_.IsRecording()) recorder_.Stop();
}

std::optional<std::string> Recording::StopForClose() {
    const bool flagged = on_.exchange(false);
    {
        std::lock_guard lock(handOffMutex_);
        recorder_.Stop();
    }
    if (!flagged) return std::nullopt;
    std::string text = std::move(text_);
    text_.clear();
    return text;
}

void Recording::HandOff(const StageFrame& frame) {
    std::lock_guard lock(handOffMutex_);
    if (frame.codedData == nullptr) return;
    if (recorder_.IsWaitingForKeyFrame()) {
        if (!frame.keyFrame) {
            link_.KeyFrameRequest();
            keyFrameRequested_ = true;
            return;
        }
        recorder_.ClearKeyFrameWait();
    }
    if (frame.codedLength <= 0) return;
    if (keyFrameRequested_ && frame.keyFrame) keyFrameRequested_ = false;
    if (recorder_.IsRecording())
        recorder_.Write(frame.codedData, static_cast<std::size_t>(frame.codedLength), frame.keyFrame != 0, frame.width,
                        frame.height, frame.frameRate);
}

}  // namespace media
