#include "media/camera.h"

#include <cstdlib>
#include <thread>

#include "app/app_instance.h"
#include "app/app_messages.h"
#include "app/log_file.h"
#include "libs/earshot/earshot.h"
#include "record/recording_settings.h"
#include "media/talk_audio.h"
#include "platform/paths.h"
#include "platform/tick.h"
#include "control/control_client.h"
#include "media/camera_registry.h"
#include "media/decoder_stage.h"
#include "media/memory_return.h"
#include "media/mixer_stage.h"

namespace media {
namespace {

// A camera must not be destroyed on one of its own link's threads: its link would
// wait for that very thread. The last reference is dropped on a thread of its own.
void ReleaseElsewhere(std::shared_ptr<CCamera> camera) {
    std::thread([camera = std::move(camera)]() mutable { camera.reset(); }).detach();
}

}  // namespace

CameraEnvironment CameraEnvironment::Application() {
    CameraEnvironment environment;
    environment.postToMainWindow = [](platform::Message message) {
        return app::CAppInteance::PostNotifyIfAlive(std::move(message));
    };
    environment.postToTaskThread = [](platform::Message message) {
        return app::CAppInteance::PostTaskIfAlive(std::move(message));
    };
    environment.addresses = [](const std::string& cameraId) {
        const auto client = control::ControlClient::Current();  // held while the request waits
        return client ? client->RequestForwardingAddress(cameraId) : control::TransportAddress{};
    };
    environment.talkAddresses = [](const std::string& cameraId) {
        const auto client = control::ControlClient::Current();
        return client ? client->RequestForwardingAddressWithNode(cameraId) : control::TransportAddress{};
    };
    // The settings in force, which the save page may change while cameras play.
    environment.recordRoot = [] { return record::CurrentRecordingSettings().root; };
    environment.recordMinutes = [] { return record::CurrentRecordingSettings().fileMinutes; };
    return environment;
}

CCamera::CCamera(CameraEnvironment environment)
    : environment_(std::move(environment)),
      talkEncoder_(chime::InitEnc(chime::kCodecAlaw)),
      recorder_(environment_.recordClock, environment_.recordMode),
      link_(std::make_unique<transport::VideoLink>(video_, audio_, environment_.addresses, environment_.linkTiming)) {
    link_->SetObserver(this);
}

CCamera::~CCamera() {
    Close();
    // Whatever a caller started without setting the camera's flags ends here too.
    {
        std::lock_guard lock(talkLock_);
        if (talkThread_.IsRunning()) StopTalkLocked();
    }
    listenThread_.Stop();
    ReleaseListenAudio();
    recorder_.Stop();
    link_.reset();
    talkLink_.reset();
    chime::DelInitEnc(talkEncoder_);
}

std::string CCamera::CameraId() const {
    std::lock_guard lock(idMutex_);
    return cameraId_;
}

bool CCamera::IsOpen() const { return !CameraId().empty(); }

CDoShow* CCamera::DisplayStage() {
    auto lock = chain_.Lock();
    return display_;
}

bool CCamera::BuildStages(const std::string& cameraId) {
    auto decoder = std::make_unique<CDoDecoder>(*this);
    if (!decoder->Init()) {
        decoder.reset();
        app::LogWrite("%s解码器创建失败!\n", cameraId.c_str());
        return false;
    }
    chain_.Append(std::move(decoder));

    auto mixer = std::make_unique<CDoMixer>(*this);
    if (!mixer->Init()) {
        mixer.reset();
        app::LogWrite("%s混合器创建失败!\n", cameraId.c_str());
        return false;
    }
    chain_.Append(std::move(mixer));

    auto display = std::make_unique<CDoShow>(*this, environment_.displayTiming);
    if (!display->Init()) {
        display.reset();
        app::LogWrite("%s播放器创建失败!\n", cameraId.c_str());
        return false;
    }
    display_ = display.get();
    chain_.Append(std::move(display), true);
    return true;
}

int CCamera::Open(const std::string& cameraId, const std::string& address, int port, platform::WindowHandle window,
                  const std::string& password) {
    // A camera that still plays is closed first; outside the stage-list lock, because
    // stopping the play thread waits for a thread that takes it.
    if (IsOpen() || player_.IsRunning()) Close();
    // A Close still under way on another thread finishes first; one that starts later
    // is seen by the count.
    std::uint64_t generation = 0;
    {
        std::unique_lock session(sessionMutex_);
        closeDone_.wait(session, [this] { return closing_ == 0; });
        generation = closes_;
    }

    auto lock = chain_.Lock();  // held until Open returns, the link's reply included
    chain_.ResetFrame();
    video_.Clear();
    paused_ = false;  // a new stream starts playing
    displayWindow_ = window;

    if (!BuildStages(cameraId)) {
        display_ = nullptr;
        chain_.ClearStages();
        // A Close meanwhile took the window the display stage needed.
        return CloseCount() != generation ? kClosedWhileOpening : -3;
    }

    const int result = link_->Open(cameraId, address, port, password);
    if (result == 1) {
        // Checked and started in one step with respect to Close's count: a Close either
        // came before (nothing starts) or comes after (it stops what started here).
        std::lock_guard session(sessionMutex_);
        if (closes_ == generation) {
            app::LogWrite("%s:%d连接转发成功！\n", address.c_str(), port);
            {
                std::lock_guard idLock(idMutex_);
                cameraId_ = cameraId;
            }
            player_.Start();
            return 1;
        }
    }
    if (CloseCount() != generation) {
        // Closed while the link opened (a logout, say): the close has ended the link,
        // and nothing of this open may be left running.
        link_->Close();
        display_ = nullptr;
        chain_.ClearStages();
        return kClosedWhileOpening;
    }
    app::LogWrite("%s：%d连接转发失败,返回值:%d,sSxtId:%d!\n", address.c_str(), port, result, std::atoi(cameraId.c_str()));
    display_ = nullptr;
    chain_.ClearStages();
    return result;
}

std::uint64_t CCamera::CloseCount() const {
    std::lock_guard session(sessionMutex_);
    return closes_;
}

bool CCamera::Close() {
    {
        // Counted first: an Open still waiting for its link sees it and gives up.
        std::lock_guard session(sessionMutex_);
        ++closes_;
        ++closing_;
    }
    CloseSteps();
    {
        std::lock_guard session(sessionMutex_);
        --closing_;
    }
    closeDone_.notify_all();
    return true;
}

void CCamera::CloseSteps() {
    const bool wasOpen = IsOpen();
    displayWindow_ = 0;
    StopRecordingForClose();
    StopTalkForClose();
    StopListeningForClose();
    link_->Close();
    player_.Stop();
    {
        auto lock = chain_.Lock();
        display_ = nullptr;
        chain_.ClearStages();
        chain_.ResetFrame();
    }
    video_.Clear();
    {
        std::lock_guard idLock(idMutex_);
        cameraId_.clear();
    }
    // The stream's decoder, pictures, surfaces and packets are freed now: hand the
    // memory back once the closes around this one are done.
    if (wasOpen) FreedMemoryReturn::Instance().Request();
}

void CCamera::EndStreamKeepingCell() {
    const platform::WindowHandle window = displayWindow_;
    Close();
    displayWindow_ = window;
}

void CCamera::StopRecordingForClose() {
    std::lock_guard lock(recordLock_);
    const bool flagged = recording_.exchange(false);
    {
        // A recorder started without the flag (no hand-off reached it) ends quietly.
        std::lock_guard handOff(handOffLock_);
        recorder_.Stop();
    }
    if (!flagged) return;
    std::string text = std::move(recordingText_);
    recordingText_.clear();
    if (text.empty()) text = CameraId();
    PostToMain(platform::Message(app::kRecordStopped, 0, 1, platform::MakePayload(std::move(text))));
}

void CCamera::StopTalkForClose() {
    std::lock_guard lock(talkLock_);
    if (!talking_.exchange(false)) return;
    StopTalkLocked();
    PostToMain(platform::Message(app::kTalkStateChanged, 0, 0, platform::MakePayload(CameraId())));
    if (talkLink_) talkLink_->Close();
}

void CCamera::StopListeningForClose() {
    std::lock_guard lock(listenLock_);
    if (!listening_.exchange(false)) return;
    StopListen();
    PostToMain(platform::Message(app::kListenStopped, 0, 1, platform::MakePayload(CameraId())));
}

void CCamera::Pause() {
    paused_ = true;
    link_->Pause();
}

void CCamera::Resume() {
    paused_ = false;
    link_->Resume();
}

void CCamera::Seek(const std::string& jumpTime) { link_->Seek(jumpTime); }

void CCamera::PanTilt(int actionCode) { link_->PanTilt(actionCode); }

void CCamera::Notification(const std::string& text) {
    const int cell = cellIndex_;
    if (text == "stop" && !replayMode_) {
        // Handled on the task threads, in order with the cell's opens and closes (a
        // close here, on the link's thread, could race a new open of the cell).
        if (const std::string id = CameraId(); !id.empty())
            PostToTaskThread(platform::Message(app::kTaskLiveStreamStopped, static_cast<std::uintptr_t>(cell), 0,
                                               platform::MakePayload(id)));
        return;
    }
    if (text == "stop") {
        // Acts on this camera itself: looking the cell up could find (or create)
        // another camera when this one was moved or removed meanwhile.
        std::shared_ptr<CCamera> self = weak_from_this().lock();
        Close();
        if (self) CameraRegistry::Instance().RemoveIf(cell, self.get());
        platform::PostWindowMessage(notifyWindow_, platform::Message(app::kReplayEnded, static_cast<std::uintptr_t>(cell), 0));
        if (self) ReleaseElsewhere(std::move(self));
        return;
    }
    platform::PostWindowMessage(notifyWindow_, platform::Message(app::kReplayPosition, 0, 0,
                                                                 platform::MakePayload(app::ReplayPositionNotice{cell, 0, text})));
}

void CCamera::RecorderHandOff(const StageFrame& frame) {
    std::lock_guard lock(handOffLock_);
    if (frame.codedData == nullptr) return;
    // A file starts on a key frame: until one comes, every other frame asks for one.
    if (recorder_.IsWaitingForKeyFrame()) {
        if (!frame.keyFrame) {
            link_->KeyFrameRequest();
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

// ---- listening ----

bool CCamera::StartListen(AudioRefusal* why) {
    std::lock_guard lock(listenLock_);
    auto refuse = [why](AudioRefusal reason) {
        if (why) *why = reason;
        return false;
    };
    if (!player_.IsRunning()) return refuse(AudioRefusal::kNotPlaying);
    audio_.Clear();
    listenThread_.Stop();
    listenFormat_ = chime::AudioFormat{1, 8000, 16};
    ReleaseListenAudio();
    // The player first: without a way to play the sound, the server is not asked for
    // it, and the user hears that there is no output device rather than a silent "on".
    listenDecoder_ = chime::InitDec(chime::kCodecAlaw);
    listenPlayer_ = chime::OpenAudio(displayWindow_, 1, 8000, 16);
    if (listenPlayer_ == 0) {
        app::LogWrite("InitAudio mAudioPlay: %08x Error!\n", static_cast<unsigned>(listenPlayer_));
        ReleaseListenAudio();
        return refuse(AudioRefusal::kNoOutputDevice);
    }
    if (const int played = chime::Play(listenPlayer_); played == 0) {
        app::LogWrite("bPlay: %d Failed!\n", played);
        ReleaseListenAudio();
        return refuse(AudioRefusal::kNoOutputDevice);
    }
    if (!link_->AudioOn()) {
        app::LogWrite("Open Audio Failed!\n");
        ReleaseListenAudio();
        return refuse(AudioRefusal::kRefused);
    }
    listenThread_.Start([this](app::ThreadWrapper& thread) { ListenLoop(thread); });
    if (why) *why = AudioRefusal::kNone;
    return true;
}

bool CCamera::StopListen() {
    std::lock_guard lock(listenLock_);
    link_->AudioOff();
    // The thread stops before its decoder and player go.
    listenThread_.Stop();
    ReleaseListenAudio();
    audio_.Clear();
    return true;
}

void CCamera::ReleaseListenAudio() {
    chime::DelInitDec(listenDecoder_.exchange(0));
    chime::CloseAudio(listenPlayer_.exchange(0));
}

void CCamera::ListenLoop(app::ThreadWrapper& thread) {
    std::vector<std::uint8_t> pcm(chime::kDecodeBufferBytes);
    while (!thread.WaitForStop(5)) {
        thread.Beat();
        transport::PacketQueue::Record packet = audio_.Pop();
        if (!packet) {
            if (thread.WaitForStop(50)) break;
            continue;
        }
        if (listenDecoder_ != 0 && packet->info.Codec() == chime::kCodecAlaw) {
            const chime::AudioFormat format{static_cast<int>(packet->info.RateOrChannels()),
                                            static_cast<int>(packet->info.WidthOrSampleRate()),
                                            static_cast<int>(packet->info.HeightOrBits())};
            if (!(format == listenFormat_)) {
                // The stream changed its format: a player for the new one.
                listenFormat_ = format;
                chime::CloseAudio(listenPlayer_.exchange(0));
                listenPlayer_ = chime::OpenAudio(displayWindow_, static_cast<std::uint8_t>(format.channels),
                                                 format.sampleRate, static_cast<std::uint16_t>(format.bitsPerSample));
                chime::Play(listenPlayer_);
            }
            if (packet->info.Kind() == 1 && packet->length > 14) {
                const int decoded = chime::Decode(listenDecoder_, packet->Payload(), static_cast<int>(packet->length - 14),
                                                  pcm.data());
                if (decoded > 0 && listenPlayer_ != 0) chime::AddAudioData(listenPlayer_, pcm.data(), decoded);
            }
        }
        audio_.Release(std::move(packet));
    }
}

// ---- talkback ----

std::string CCamera::TalkId() const {
    std::lock_guard lock(idMutex_);
    return talkId_;
}

bool CCamera::CreateTalkLink() {
    std::lock_guard lock(talkLock_);
    if (!talkLink_) {
        transport::LinkTiming timing = environment_.linkTiming;
        timing.heartbeatStartMs = transport::TalkLink::DefaultTiming().heartbeatStartMs;
        talkLink_ = std::make_unique<transport::TalkLink>(talkAudio_, environment_.talkAddresses, timing);
    }
    return true;
}

bool CCamera::StartTalk(const std::string& cameraId, const std::string& address, int port,
                        const std::string& password, AudioRefusal* why) {
    std::lock_guard lock(talkLock_);
    auto refuse = [why](AudioRefusal reason) {
        if (why) *why = reason;
        return false;
    };
    if (!player_.IsRunning()) return refuse(AudioRefusal::kNotPlaying);
    talkAudio_.Clear();
    if (!talkLink_) {
        app::LogWrite("Open Talk Failed!\n");
        return refuse(AudioRefusal::kRefused);
    }
    // The microphone first: without one no talk link and no voice channel are opened
    // for nothing.
    if (!TARN_AudioCap_Init()) {
        app::LogWrite("TARN_AudioCap_Init Failed!\n");
        return refuse(AudioRefusal::kNoMicrophone);
    }
    const int result = talkLink_->Open(cameraId, address, port, password);
    if (result != 1) {
        app::LogWrite("对讲连接转发失败ret=%d！\n", result);
        talkLink_->Close();  // a refused open leaves no connection behind
        TARN_AudioCap_DelInit();
        return refuse(AudioRefusal::kRefused);
    }
    if (const std::string id = talkLink_->TalkId(); !id.empty()) {
        std::lock_guard idLock(idMutex_);
        talkId_ = id;
    }
    if (!talkLink_->Command(1005, true)) {
        app::LogWrite("发送命令CMD_OPENVOICE失败！\n");
        talkLink_->Close();
        TARN_AudioCap_DelInit();
        return refuse(AudioRefusal::kRefused);
    }
    talkThread_.Stop();
    ReleaseTalkAudio();
    talkDecoder_ = chime::InitDec(chime::kCodecAlaw);
    talkPlayer_ = chime::OpenAudio(displayWindow_, 1, 8000, 16);
    talkThread_.Start([this](app::ThreadWrapper& thread) { TalkPlaybackLoop(thread); });

    if (talkEncoder_ != 0) {
        TARN_AudioCap_Start(&CCamera::CaptureCallback, this);
        if (!earshot::Capturing()) {
            // The device is there but would not start: nothing would be heard.
            app::LogWrite("TARN_AudioCap_Start Failed!\n");
            StopTalkLocked();
            talkLink_->Close();
            return refuse(AudioRefusal::kNoMicrophone);
        }
    }
    if (why) *why = AudioRefusal::kNone;
    return true;
}

bool CCamera::StopTalk() {
    std::lock_guard lock(talkLock_);
    if (!player_.IsRunning()) return false;
    StopTalkLocked();
    return true;
}

void CCamera::StopTalkLocked() {
    // Capture first: no voice is sent once the channel is closed or the link goes.
    TARN_AudioCap_Stop();
    TARN_AudioCap_DelInit();
    if (talkLink_) talkLink_->Command(1006, false);
    talkThread_.Stop();
    ReleaseTalkAudio();
    talkAudio_.Clear();
}

bool CCamera::CloseTalkLink() {
    std::lock_guard lock(talkLock_);
    if (talkLink_) talkLink_->Close();
    return true;
}

void CCamera::ReleaseTalkAudio() {
    chime::DelInitDec(talkDecoder_.exchange(0));
    chime::CloseAudio(talkPlayer_.exchange(0));
}

void CCamera::TalkPlaybackLoop(app::ThreadWrapper& thread) {
    std::vector<std::uint8_t> pcm(chime::kDecodeBufferBytes);
    while (!thread.WaitForStop(5)) {
        thread.Beat();
        transport::PacketQueue::Record packet = talkAudio_.Pop();
        if (!packet) {
            if (thread.WaitForStop(30)) break;
            continue;
        }
        if (packet->length > 14) {
            const int decoded =
                chime::Decode(talkDecoder_, packet->Payload(), static_cast<int>(packet->length - 14), pcm.data());
            if (decoded > 0) chime::AddAudioData(talkPlayer_, pcm.data(), decoded);
        }
        talkAudio_.Release(std::move(packet));
    }
}

void CCamera::CaptureCallback(const std::uint8_t* pcm, int length, void* user) {
    if (user != nullptr) static_cast<CCamera*>(user)->SendCapturedAudio(pcm, length);
}

void CCamera::SendCapturedAudio(const std::uint8_t* pcm, int length) {
    transport::TalkLink* link = talkLink_.get();
    if (link == nullptr || pcm == nullptr || length < kTalkBlockBytes) return;
    talkMessage_.resize(kTalkHeaderSize + kTalkBlockBytes);
    BuildTalkAudioHeader(talkMessage_.data(), platform::TickCount(), TalkId());
    // Whole 640-byte blocks only; a shorter remainder is dropped.
    for (int block = 0; block < length / kTalkBlockBytes; ++block) {
        const int coded = chime::Encode(talkEncoder_, pcm + static_cast<std::ptrdiff_t>(block) * kTalkBlockBytes,
                                        kTalkBlockBytes, talkMessage_.data() + kTalkHeaderSize);
        if (coded <= 0) continue;
        const long sent = link->SendTalkAudio(talkMessage_.data(), kTalkHeaderSize + static_cast<std::size_t>(coded));
        if (sent > 0)
            link->MarkHeartbeatReply();
        else if (sent < 0)
            app::LogWrite("TCollectDate SendDate Failed.\n");
    }
}

// ---- recording ----

bool CCamera::StartRecord(const std::string& cameraId) {
    std::lock_guard lock(recordLock_);
    std::lock_guard handOff(handOffLock_);
    if (recorder_.IsRecording()) recorder_.Stop();
    recordingText_ = cameraId;
    const std::string root = environment_.recordRoot ? environment_.recordRoot() : std::string();
    const int minutes = environment_.recordMinutes ? environment_.recordMinutes() : 30;
    if (root.empty() || cameraId.empty()) return false;
    return recorder_.Start(record::RecordingFolder(root, cameraId), cameraId, minutes > 0 ? minutes : 30);
}

bool CCamera::StopRecord() {
    std::lock_guard lock(recordLock_);
    std::lock_guard handOff(handOffLock_);
    if (recorder_.IsRecording()) recorder_.Stop();
    return true;
}

void CCamera::PostToTaskThread(platform::Message message) {
    if (environment_.postToTaskThread) environment_.postToTaskThread(std::move(message));
}

bool CCamera::PostToMain(platform::Message message) {
    return environment_.postToMainWindow && environment_.postToMainWindow(std::move(message));
}

void CCamera::OnConnectionLost() {
    const std::string id = CameraId();
    if (id.empty()) return;
    if (auto camera = CameraRegistry::Instance().FindById(id))
        PostToMain(platform::Message(app::kAppNotify, static_cast<std::uintptr_t>(camera->CellIndex()), app::kReconnecting,
                                     platform::MakePayload(id)));
}

void CCamera::OnServerStop() {
    const std::string id = link_ ? link_->CameraId() : std::string();
    if (id.empty()) return;
    if (auto camera = CameraRegistry::Instance().FindById(id)) camera->Notification("stop");
}

void CCamera::OnForwardingAddress(const std::string& cameraId, const std::string& ip, int port) {
    PostToMain(platform::Message(app::kForwardingAddressFetched, 0, 0,
                                 platform::MakePayload(app::ForwardingAddressNotice{cameraId, ip, port})));
}

}  // namespace media
