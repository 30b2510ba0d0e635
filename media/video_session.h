#pragma once
// The video of one camera: its link to the forwarding server, the video and audio
// queues the link fills, the stage chain (decode, overlay, display) and the play thread,
// the display window and the camera id of the stream shown. Pan-tilt-zoom and the
// replay commands are one-way commands on this link, so they are here too. Open and
// Close run on the camera's sequence; a Close asked for on another thread first counts
// itself here, so that an Open waiting for its link gives up at once.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "media/camera_environment.h"
#include "media/play_thread.h"
#include "media/stage_chain.h"
#include "transport/packet_queue.h"
#include "transport/video_link.h"

namespace media {

class VideoSession {
public:
    // An Open that a Close overtook leaves the camera closed.
    static constexpr int kClosedWhileOpening = 0;

    VideoSession(StageHost& host, const CameraEnvironment& environment, transport::LinkObserver& observer);
    ~VideoSession();
    VideoSession(const VideoSession&) = delete;
    VideoSession& operator=(const VideoSession&) = delete;

    // Closes asked for so far: an Open compares the count when it was asked for with the
    // count before it starts the play thread.
    std::uint64_t Closes() const;
    // Any thread: counts a close, and ends the link's wait of an Open under way.
    void CountClose();

    // On the sequence. 1 success; -3 a stage could not be made; kClosedWhileOpening;
    // otherwise the link's result. A failed Open leaves no stages behind.
    int Open(const std::string& cameraId, const std::string& address, int port, platform::WindowHandle window,
             const std::string& password, std::uint64_t closesWhenAsked);
    // On the sequence: the link, the play thread, the stages, the queue and the id.
    void Close();

    std::string CameraId() const;
    bool IsOpen() const { return !CameraId().empty(); }
    bool Playing() const { return player_.IsRunning(); }
    platform::WindowHandle Window() const { return window_; }
    void SetWindow(platform::WindowHandle window) { window_ = window; }
    bool Paused() const { return paused_; }

    // Sent only while the link is connected; no reply is awaited.
    void Pause();
    void Resume();
    // The frames still queued belong to the old position: dropping them shows the new
    // one as soon as it arrives instead of after the reserve has played out.
    void Seek(const std::string& jumpTime) {
        link_->Seek(jumpTime);
        video_.Clear();
    }
    void PanTilt(int actionCode) { link_->PanTilt(actionCode); }

    transport::VideoLink& Link() { return *link_; }
    transport::PacketQueue& VideoQueue() { return video_; }
    transport::PacketQueue& AudioQueue() { return audio_; }
    std::size_t StageCount() { return chain_.Size(); }

private:
    int OpenSteps(const std::string& cameraId, const std::string& address, int port, platform::WindowHandle window,
                  const std::string& password, std::uint64_t closesWhenAsked);
    // Decode, overlay, display; false (with the log line) when one refuses.
    bool BuildStages(const std::string& cameraId);
    bool ClosedSince(std::uint64_t closes) const { return Closes() != closes; }

    StageHost& host_;
    const CameraEnvironment& environment_;
    std::atomic<platform::WindowHandle> window_{0};
    std::atomic<bool> paused_{false};
    mutable std::mutex closeMutex_;
    std::uint64_t closes_ = 0;
    bool opening_ = false;
    mutable std::mutex idMutex_;
    std::string cameraId_;

    transport::PacketQueue video_;
    transport::PacketQueue audio_;
    StageChain chain_;
    PlayThread player_{chain_, video_};
    // Declared last and destroyed first: its threads fill the queues.
    std::unique_ptr<transport::VideoLink> link_;
};

}  // namespace media
