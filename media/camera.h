#pragma once
// Everything the client holds for one camera shown in one video cell: the video link
// to its forwarding server, the packet queues, the stage chain with its play thread,
// and the listening, talkback and recording sub-states. It reports to the main window
// and the application by posted messages only.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/thread_wrapper.h"
#include "libs/chime/chime.h"
#include "media/play_thread.h"
#include "media/show_stage.h"
#include "media/stage_chain.h"
#include "transport/packet_queue.h"
#include "transport/talk_link.h"
#include "transport/video_link.h"
#include "record/recorder.h"

namespace media {

// Where a camera's messages and requests go. The defaults reach the application
// object and the control client of the running login cycle; tests put their own.
struct CameraEnvironment {
    std::function<bool(platform::Message)> postToMainWindow;
    std::function<bool(platform::Message)> postToTaskThread;
    transport::AddressProvider addresses;
    // The forwarding-address request with node id, for the talk link's reopen.
    transport::AddressProvider talkAddresses;
    // The record root and the file length in minutes ("path", "FileSize").
    std::function<std::string()> recordRoot;
    std::function<int()> recordMinutes;
    record::RecordClock recordClock = record::RecordClock::System();
    // Opening per frame costs well under 1 % of the client's CPU (bench_record).
    record::WriteMode recordMode = record::WriteMode::kOpenPerFrame;
    transport::LinkTiming linkTiming;
    DisplayTiming displayTiming;

    static CameraEnvironment Application();
};

// Why listening or talkback did not start; the user is told the last two.
enum class AudioRefusal {
    kNone,
    kNotPlaying,       // the camera shows no stream
    kRefused,          // the forwarding server or the talk link said no
    kNoOutputDevice,   // no player could be opened or started
    kNoMicrophone,     // nothing to capture the user's voice from
};

class CCamera final : public std::enable_shared_from_this<CCamera>,
                      public StageHost,
                      public transport::LinkObserver {
public:
    explicit CCamera(CameraEnvironment environment = CameraEnvironment::Application());
    ~CCamera() override;
    CCamera(const CCamera&) = delete;
    CCamera& operator=(const CCamera&) = delete;

    // An Open that a Close overtook (on another thread) leaves the camera closed.
    static constexpr int kClosedWhileOpening = 0;
    // 1 success; -3 a stage could not be made; 0 closed meanwhile; otherwise the
    // link's result (-7 missing id, address or port; -4 no connection; -8 no reply;
    // the server's code).
    int Open(const std::string& cameraId, const std::string& address, int port, platform::WindowHandle window,
             const std::string& password);
    // Ends the sub-states (posting 1054, 1058, 1004 for those that were on), the link,
    // the play thread and the stages. A second Close does nothing. Any thread, also
    // while an Open of this camera waits for its link: that Open then returns at once
    // and starts nothing.
    bool Close();
    // Close, but the camera keeps its cell's display window, as after a failed open:
    // the reconnection supervisor opens the cell again into that window.
    void EndStreamKeepingCell();

    // Listening on the video link: false unless the camera plays, a player for the
    // sound could be opened and started, and the server turned its audio on. A refused
    // start leaves nothing running and says why in `why`.
    bool StartListen(AudioRefusal* why = nullptr);
    bool StopListen();
    // Talkback on a second link; StartTalk captures the microphone and plays the
    // answer. Without a microphone nothing is opened; a StartTalk that fails leaves
    // nothing running and says why in `why`.
    bool CreateTalkLink();
    bool StartTalk(const std::string& cameraId, const std::string& address, int port, const std::string& password,
                   AudioRefusal* why = nullptr);
    bool StopTalk();
    bool CloseTalkLink();
    // Local recording into the camera's folder below the record root.
    bool StartRecord(const std::string& cameraId);
    bool StopRecord();

    void Pause();
    void Resume();
    void Seek(const std::string& jumpTime);
    void PanTilt(int actionCode);
    bool IsOpen() const;

    // The link's "stop" and the replay time reports. A replay's "stop" is its end: the
    // camera closes and leaves the registry (1048 to the notify window). A live
    // camera's "stop" asks the task threads (kTaskLiveStreamStopped) to end the stream
    // and reconnect the cell: the user still wants to watch it.
    void Notification(const std::string& text);

    std::string CameraId() const override;
    int CellIndex() const override { return cellIndex_; }
    void SetCellIndex(int cell) { cellIndex_ = cell; }
    platform::WindowHandle NotifyWindow() const { return notifyWindow_; }
    void SetNotifyWindow(platform::WindowHandle window) { notifyWindow_ = window; }
    void SetReplayMode(bool on) { replayMode_ = on; }

    // The sub-state flags, set by the application from the outcome of the listening,
    // talkback and recording operations; Close ends whatever they say is on.
    bool IsRecording() const override { return recording_; }
    bool IsListening() const { return listening_; }
    bool IsTalking() const { return talking_; }
    void SetRecording(bool on) { recording_ = on; }
    void SetListening(bool on) { listening_ = on; }
    void SetTalking(bool on) { talking_ = on; }

    // For tests and diagnostics.
    std::size_t StageCount() { return chain_.Size(); }
    bool PlayThreadRunning() const { return player_.IsRunning(); }
    CDoShow* DisplayStage();
    transport::VideoLink& Link() { return *link_; }
    transport::TalkLink* TalkLinkForTests() { return talkLink_.get(); }
    record::CRecord& Recorder() { return recorder_; }
    bool ListeningThreadRunning() const { return listenThread_.IsRunning(); }
    bool TalkThreadRunning() const { return talkThread_.IsRunning(); }
    std::string TalkId() const;
    // Earshot's capture callback; the user pointer is the camera.
    static void CaptureCallback(const std::uint8_t* pcm, int length, void* user);

    // StageHost
    transport::PacketQueue& VideoQueue() override { return video_; }
    bool IsReplayMode() const override { return replayMode_; }
    bool IsPaused() const override { return paused_; }
    platform::WindowHandle DisplayWindow() const override { return displayWindow_; }
    void RecorderHandOff(const StageFrame& frame) override;
    void ReportReplayTime(const std::string& text) override { Notification(text); }
    void PostToTaskThread(platform::Message message) override;

    // transport::LinkObserver
    void OnConnectionLost() override;
    void OnServerStop() override;
    void OnForwardingAddress(const std::string& cameraId, const std::string& ip, int port) override;

private:
    bool PostToMain(platform::Message message);
    // Builds decode, overlay and display; false (with the log line) when one refuses.
    bool BuildStages(const std::string& cameraId);
    void StopRecordingForClose();
    void StopTalkForClose();
    void StopListeningForClose();
    void ListenLoop(app::ThreadWrapper& thread);
    void TalkPlaybackLoop(app::ThreadWrapper& thread);
    void ReleaseListenAudio();
    void ReleaseTalkAudio();
    // Capture off, voice channel closed, playback stopped; under the talkback lock.
    void StopTalkLocked();
    void SendCapturedAudio(const std::uint8_t* pcm, int length);
    std::uint64_t CloseCount() const;
    void CloseSteps();

    const CameraEnvironment environment_;

    std::atomic<platform::WindowHandle> displayWindow_{0};
    std::atomic<platform::WindowHandle> notifyWindow_{0};
    std::atomic<int> cellIndex_{-1};
    // Closes begun so far and those under way; an Open waits for those under way, then
    // compares the count before starting the play thread. Held only for that check and
    // start, and for a Close's counting (never across a wait for another thread).
    mutable std::mutex sessionMutex_;
    std::condition_variable closeDone_;
    std::uint64_t closes_ = 0;
    int closing_ = 0;
    mutable std::mutex idMutex_;
    std::string cameraId_;
    std::string recordingText_;
    std::string talkId_;  // under idMutex_

    std::atomic<bool> recording_{false};
    std::atomic<bool> listening_{false};
    std::atomic<bool> talking_{false};
    std::atomic<bool> replayMode_{false};
    std::atomic<bool> paused_{false};
    std::atomic<bool> keyFrameRequested_{false};

    // Re-entrant, as the camera's operations nest; order: listening, talkback or
    // recording, then the stage list, then a stage, then a queue.
    std::recursive_mutex listenLock_;
    std::recursive_mutex recordLock_;
    std::recursive_mutex handOffLock_;
    std::recursive_mutex talkLock_;

    transport::PacketQueue video_;
    transport::PacketQueue audio_;
    transport::PacketQueue talkAudio_;
    StageChain chain_;
    CDoShow* display_ = nullptr;  // owned by the chain
    PlayThread player_{chain_, video_};
    std::unique_ptr<transport::TalkLink> talkLink_;  // made once, kept until destruction

    // Listening: the format the player is open for, its decoder and player, and the
    // thread that plays the audio queue. The handles change only while it rests.
    chime::AudioFormat listenFormat_;
    std::atomic<chime::Handle> listenDecoder_{0};
    std::atomic<chime::Handle> listenPlayer_{0};
    app::ThreadWrapper listenThread_;
    // Talkback: the answer's decoder and player with their thread, and the encoder of
    // the captured sound; the message buffer belongs to the capture thread.
    std::atomic<chime::Handle> talkDecoder_{0};
    std::atomic<chime::Handle> talkPlayer_{0};
    const chime::Handle talkEncoder_;
    app::ThreadWrapper talkThread_;
    std::vector<std::uint8_t> talkMessage_;

    record::CRecord recorder_;
    // Declared last and destroyed first, so that its threads never see a half-gone camera.
    std::unique_ptr<transport::VideoLink> link_;
};

}  // namespace media
