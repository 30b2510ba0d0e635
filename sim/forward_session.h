#pragma once
// One link accepted by a forwarding server. Command 1 decides what it is: a camera's
// live video link ("sxtId" a camera id), a remote playback ("sxtId" a playback id from
// msgType 6) or a talk link ("nodeId"). Video and playback links get a streaming
// thread that sends the camera's pictures at its frame rate, adds audio between
// commands 1003 and 1004, follows pan-tilt-zoom, parameters, key-frame requests, pause,
// resume and seek. Live links loop the camera's clip with wall-clock timestamps (a
// camera set to a clocked live stream plays the clips of the current seconds instead,
// so that its pictures show the time they are sent, as a recording's do). A
// playback plays one recording of its set-up: the pictures the camera saw then (the
// clips of the recording's own seconds, whose clock shows the recorded time) with the
// recorded times as timestamps, from the recording's start or where a seek put it (a
// seek into a gap goes to the start of the next recording), and sends msgType 7 at the
// end of that recording. Talk links echo the client's talk audio while the voice
// channel is open (1005 until 1006).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/forward_context.h"
#include "sim/forward_wire.h"

class QImage;

namespace sim {

// Where a link's messages go.
class LinkSink {
public:
    virtual ~LinkSink() = default;
    virtual bool Send(const void* data, std::size_t length) = 0;
    // Ends the connection (the client sees it lost).
    virtual void Close() = 0;
};

class ForwardSession {
public:
    enum class Kind { kNone, kLive, kPlayback, kTalk };

    ForwardSession(ForwardContext& context, std::unique_ptr<LinkSink> sink);
    ~ForwardSession();
    ForwardSession(const ForwardSession&) = delete;
    ForwardSession& operator=(const ForwardSession&) = delete;

    // One message from the client (on the connection's reader thread).
    void OnMessage(const std::uint8_t* data, std::size_t length);
    // Ends streaming and waits for the streaming thread.
    void Stop();

    Kind GetKind() const;
    // The camera the link shows (for a playback, the recording's camera).
    std::string CameraId() const;

    // Fault injection and the service's own stop: msgType 7 "stop", streaming ends.
    void SendStop();
    void Drop();

private:
    using Clock = std::chrono::steady_clock;
    using Params = std::map<std::string, std::string>;

    struct Recording {
        std::int64_t startMs = 0;
        std::int64_t endMs = 0;
    };

    void HandleControl(const control::ControlMessage& message);
    void HandleOpen(const control::ControlMessage& message);
    void HandleTalkAudio(const LinkRequest& request);
    void HandlePanTilt(const control::ControlMessage& message);
    bool ApplyParameters(const Params& params);
    // False when nothing was sent (a stalled link, a closed connection).
    bool Reply(const control::ControlMessage& request, const Params& params);
    bool SendBytes(const std::vector<std::uint8_t>& message);
    void StopStreaming();

    // The streaming thread and its steps.
    void Stream();
    bool SendVideoFrame(std::int64_t timestampMs);
    const EncodedFrame* NextFrame(const StreamSettings& settings, const CameraHeads::State& head);
    void SendAudioPacket(std::int64_t timestampMs);
    void SendMalformed(std::int64_t timestampMs);
    // Playback: moves to the recording that holds `whenMs` (or the next one); false
    // after the last.
    bool PlaybackSeek(std::int64_t whenMs);
    // Playback (and a clocked live stream): the frame of the second being played, from
    // the clip that holds that second; the next clip is made ahead meanwhile.
    const EncodedFrame* RecordedFrame(ClipLook look, int frameRate);
    void StreamLoop();

    ForwardContext& context_;
    const std::unique_ptr<LinkSink> sink_;

    // Set by commands on the reader thread, read by the streaming thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Kind kind_ = Kind::kNone;
    StreamingCamera camera_;
    std::string talkId_;
    bool voiceOpen_ = false;
    bool audioOn_ = false;
    bool audioAnnounce_ = false;  // an audio description is due before the next packet
    bool paused_ = false;
    bool keyFrameRequested_ = false;
    bool stopping_ = false;
    bool serverStopped_ = false;  // msgType 7 went out: nothing more is streamed
    bool woken_ = false;
    std::optional<std::int64_t> seekMs_;
    std::thread streamer_;

    // Owned by the streaming thread (and by the reader before it starts).
    std::vector<Recording> recordings_;
    std::size_t recordingIndex_ = 0;
    // Playback: the recorded second and the frame within it that go out next.
    std::int64_t playSecond_ = 0;
    int playFrame_ = 0;
    bool ended_ = false;
    std::future<void> nextClip_;  // the clip after the current one, being made
    std::shared_ptr<const VideoClip> clip_;
    std::string clipLookKey_;
    std::size_t clipIndex_ = 0;
    std::unique_ptr<H264Encoder> liveEncoder_;  // while the head moves
    std::unique_ptr<QImage> livePicture_;
    EncodedFrame liveFrame_;
    std::uint64_t liveFrames_ = 0;
    bool described_ = false;  // media form: the video description of the current size went out
    int describedWidth_ = 0, describedHeight_ = 0, describedRate_ = 0;
    std::shared_ptr<const AudioLoop> voice_;
    std::size_t voiceIndex_ = 0;
    std::int64_t audioPositionMs_ = 0;
    std::uint16_t videoSequence_ = 0;
    std::uint16_t audioSequence_ = 0;
    std::uint16_t talkSequence_ = 0;
    unsigned malformedKind_ = 0;
    std::vector<std::uint8_t> buffer_;      // the streaming thread's message buffer
    std::vector<std::uint8_t> talkBuffer_;  // the reader thread's
};

// Milliseconds since 1970 of the system clock: live timestamps.
std::int64_t WallClockMs();

}  // namespace sim
