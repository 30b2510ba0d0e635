#pragma once
// Talkback with a camera on a second link, the talk link: Earshot captures the user's
// voice, which goes out in talk audio messages, and the camera's answer comes back into
// the answer queue, played by the shared playback helper. Everything but the capture
// callback runs on the camera's sequence.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/audio_playback.h"
#include "media/camera_environment.h"
#include "transport/talk_link.h"

namespace media {

class Talkback {
public:
    explicit Talkback(const CameraEnvironment& environment);
    // Ends a talk that runs (also one the application never flagged).
    ~Talkback();
    Talkback(const Talkback&) = delete;
    Talkback& operator=(const Talkback&) = delete;

    // The talk link is made once, on demand, and kept.
    void CreateLink();
    // For a playing camera: microphone, talk link, voice channel, answer playback and
    // capture. False, with whatever was opened closed again, says why.
    bool Start(const std::string& cameraId, const std::string& address, int port, const std::string& password,
               platform::WindowHandle window, AudioRefusal* why);
    // Capture off first (no voice after the channel closed), voice channel closed,
    // answer playback stopped.
    void Stop();
    void CloseLink();

    std::string TalkId() const;
    bool Playing() const { return playback_.Running(); }
    transport::TalkLink* Link() { return link_.get(); }

    // The flag the application sets from the outcome; Close ends talkback when it is on.
    bool IsOn() const { return on_; }
    void SetOn(bool on) { on_ = on; }
    bool TakeOn() { return on_.exchange(false); }

private:
    // Earshot's capture thread; the user pointer is the talkback.
    static void CaptureCallback(const std::uint8_t* pcm, int length, void* user);
    void SendCaptured(const std::uint8_t* pcm, int length);

    const CameraEnvironment& environment_;
    transport::PacketQueue answer_;
    AudioPlayback playback_;
    const chime::Handle encoder_;
    std::unique_ptr<transport::TalkLink> link_;  // only the sequence makes it, before any capture
    mutable std::mutex idMutex_;
    std::string talkId_;
    std::vector<std::uint8_t> message_;  // the capture thread's
    std::atomic<bool> on_{false};
};

}  // namespace media
