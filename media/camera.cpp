#include "media/camera.h"

#include <cstdlib>
#include <thread>

#include "app/app_instance.h"
#include "app/app_messages.h"
#include "app/log_file.h"
#include "control/control_client.h"
#include "media/camera_registry.h"
#include "media/decoder_stage.h"
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
        return control::ControlClient::Exists() ? control::ControlClient::Instance().RequestForwardingAddress(cameraId)
                                                : control::TransportAddress{};
    };
    return environment;
}

CCamera::CCamera(CameraEnvironment environment)
    : environment_(std::move(environment)),
      link_(std::make_unique<transport::VideoLink>(video_, audio_, environment_.addresses, environment_.linkTiming)) {
    link_->SetObserver(this);
}

CCamera::~CCamera() {
    Close();
    link_.reset();
    talkLink_.reset();
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

    auto lock = chain_.Lock();  // held until Open returns, the link's reply included
    chain_.ResetFrame();
    video_.Clear();
    paused_ = false;  // a new stream starts playing
    displayWindow_ = window;

    if (!BuildStages(cameraId)) {
        display_ = nullptr;
        chain_.ClearStages();
        return -3;
    }

    const int result = link_->Open(cameraId, address, port, password);
    if (result == 1) {
        app::LogWrite("%s:%d连接转发成功！\n", address.c_str(), port);
        {
            std::lock_guard idLock(idMutex_);
            cameraId_ = cameraId;
        }
        player_.Start();
        return 1;
    }
    app::LogWrite("%s：%d连接转发失败,返回值:%d,sSxtId:%d!\n", address.c_str(), port, result, std::atoi(cameraId.c_str()));
    display_ = nullptr;
    chain_.ClearStages();
    return result;
}

bool CCamera::Close() {
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
    std::lock_guard idLock(idMutex_);
    cameraId_.clear();
    return true;
}

void CCamera::StopRecordingForClose() {
    std::lock_guard lock(recordLock_);
    if (!recording_.exchange(false)) return;
    // The local recorder stops here once the camera has one.
    std::string text = std::move(recordingText_);
    recordingText_.clear();
    if (text.empty()) text = CameraId();
    PostToMain(platform::Message(app::kRecordStopped, 0, 1, platform::MakePayload(std::move(text))));
}

void CCamera::StopTalkForClose() {
    std::lock_guard lock(talkLock_);
    if (!talking_.exchange(false)) return;
    // Capture and the talk playback thread stop here once the camera has them.
    PostToMain(platform::Message(app::kTalkStateChanged, 0, 0, platform::MakePayload(CameraId())));
    if (talkLink_) talkLink_->Close();
}

void CCamera::StopListeningForClose() {
    std::lock_guard lock(listenLock_);
    if (!listening_.exchange(false)) return;
    link_->AudioOff();
    audio_.Clear();
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
    // The local recorder takes the frame here (waiting for a key frame first, asking
    // the camera for one); until the camera has a recorder nothing is written.
    if (keyFrameRequested_ && frame.keyFrame) keyFrameRequested_ = false;
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
        PostToMain(platform::Message(app::kAppNotify, static_cast<std::uintptr_t>(camera->CellIndex()), app::kReconnecting));
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
