#pragma once
// Listening to a camera: the forwarding server sends its sound on the video link (after
// command 1003) into the audio queue, and the shared playback helper plays it. Start and
// Stop run on the camera's sequence.

#include <atomic>

#include "media/audio_playback.h"
#include "media/camera_environment.h"
#include "transport/video_link.h"

namespace media {

class Listening {
public:
    Listening(transport::VideoLink& link, transport::PacketQueue& audio);

    // For a playing camera. The player first: without a way to play the sound the
    // server is not asked for it. False, with nothing left running, says why.
    bool Start(platform::WindowHandle window, AudioRefusal* why);
    // Audio off; the thread stops before its decoder and player go.
    void Stop();
    bool Playing() const { return playback_.Running(); }

    // The flag the application sets from the outcome; Close ends listening when it is on.
    bool IsOn() const { return on_; }
    void SetOn(bool on) { on_ = on; }
    bool TakeOn() { return on_.exchange(false); }

private:
    transport::VideoLink& link_;
    transport::PacketQueue& audio_;
    AudioPlayback playback_;
    std::atomic<bool> on_{false};
};

}  // namespace media
