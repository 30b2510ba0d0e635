#pragma once
// Everything the client holds for one camera shown in one video cell, in owned parts:
// the video session, listening, talkback and recording. What changes the camera runs on
// its sequence, one operation at a time in the order asked for. It reports to the main
// window and the application by posted messages only.

#include <atomic>
#include <memory>
#include <string>

#include "media/camera_environment.h"
#include "media/camera_sequence.h"
#include "media/listening.h"
#include "media/recording.h"
#include "media/talkback.h"
#include "media/video_session.h"

namespace media {

class CCamera final : public std::enable_shared_from_this<CCamera>, public StageHost, public transport::LinkObserver {
public:
    explicit CCamera(CameraEnvironment environment = CameraEnvironment::Application());
    ~CCamera() override;
    CCamera(const CCamera&) = delete;
    CCamera& operator=(const CCamera&) = delete;

    static constexpr int kClosedWhileOpening = VideoSession::kClosedWhileOpening;
    // 1 success; -3 a stage could not be made; 0 closed meanwhile; otherwise the link's
    // result (-7 missing id, address or port; -4 no connection; -8 no reply; the server's).
    int Open(const std::string& cameraId, const std::string& address, int port, platform::WindowHandle window,
             const std::string& password);
    // Ends the sub-states (posting 1054, 1058, 1004 for those that were on), the link, the
    // play thread and the stages; a second Close does nothing. An Open waiting for its
    // link meanwhile returns at once and starts nothing.
    bool Close();
    // Close, but the camera keeps its cell's window for the reconnection's reopen.
    void EndStreamKeepingCell();

    // For a playing camera; a refused start leaves nothing running and says why.
    bool StartListen(AudioRefusal* why = nullptr);
    bool StopListen();
    bool CreateTalkLink();
    bool StartTalk(const std::string& cameraId, const std::string& address, int port, const std::string& password,
                   AudioRefusal* why = nullptr);
    bool StopTalk();
    bool CloseTalkLink();
    // Local recording into the camera's folder below the record root.
    bool StartRecord(const std::string& cameraId);
    bool StopRecord();

    // One-way commands on the video link, sent at once from the caller's thread.
    void Pause() { video_.Pause(); }
    void Resume() { video_.Resume(); }
    void Seek(const std::string& jumpTime) { video_.Seek(jumpTime); }
    void PanTilt(int actionCode) { video_.PanTilt(actionCode); }
    bool IsOpen() const { return video_.IsOpen(); }

    // The link's "stop" and the replay time reports. A replay's "stop" is its end: the
    // camera closes and leaves the registry (1048 to the notify window). A live camera's
    // asks the task threads (kTaskLiveStreamStopped) to end the stream and reconnect.
    void Notification(const std::string& text);

    std::string CameraId() const override { return video_.CameraId(); }
    int CellIndex() const override { return cellIndex_; }
    void SetCellIndex(int cell) { cellIndex_ = cell; }
    platform::WindowHandle NotifyWindow() const { return notifyWindow_; }
    void SetNotifyWindow(platform::WindowHandle window) { notifyWindow_ = window; }
    void SetReplayMode(bool on) { replayMode_ = on; }

    // Set by the application from the outcome of the operations; Close ends what is on.
    bool IsRecording() const override { return recording_.IsOn(); }
    bool IsListening() const { return listening_.IsOn(); }
    bool IsTalking() const { return talkback_.IsOn(); }
    void SetRecording(bool on) { recording_.SetOn(on); }
    void SetListening(bool on) { listening_.SetOn(on); }
    void SetTalking(bool on) { talkback_.SetOn(on); }

    // For tests and diagnostics.
    std::size_t StageCount() { return video_.StageCount(); }
    bool PlayThreadRunning() const { return video_.Playing(); }
    transport::VideoLink& Link() { return video_.Link(); }
    transport::TalkLink* TalkLinkForTests() { return talkback_.Link(); }
    record::CRecord& Recorder() { return recording_.Recorder(); }
    bool ListeningThreadRunning() const { return listening_.Playing(); }
    bool TalkThreadRunning() const { return talkback_.Playing(); }
    std::string TalkId() const { return talkback_.TalkId(); }

    // StageHost
    transport::PacketQueue& VideoQueue() override { return video_.VideoQueue(); }
    bool IsReplayMode() const override { return replayMode_; }
    bool IsPaused() const override { return video_.Paused(); }
    platform::WindowHandle DisplayWindow() const override { return video_.Window(); }
    void RecorderHandOff(const StageFrame& frame) override { recording_.HandOff(frame); }
    void ReportReplayTime(const std::string& text) override { Notification(text); }
    void PostToTaskThread(platform::Message message) override;

    // transport::LinkObserver, on the link's threads: they never wait for the sequence.
    void OnConnectionLost() override;
    void OnServerStop() override;
    void OnForwardingAddress(const std::string& cameraId, const std::string& ip, int port) override;

private:
    bool PostToMain(platform::Message message);
    void CloseSteps();         // on the sequence
    void EndReplay(int cell);  // on the sequence

    const CameraEnvironment environment_;
    std::atomic<int> cellIndex_{-1};
    std::atomic<platform::WindowHandle> notifyWindow_{0};
    std::atomic<bool> replayMode_{false};
    CameraSequence sequence_;  // outlives the parts
    VideoSession video_;       // outlives the parts that use its link
    Recording recording_;
    Listening listening_;
    Talkback talkback_;
};

}  // namespace media
