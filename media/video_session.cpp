#include "media/video_session.h"

#include <cstdlib>

#include "core/log_file.h"
#include "media/decoder_stage.h"
#include "media/mixer_stage.h"
#include "media/show_stage.h"

namespace media {

VideoSession::VideoSession(StageHost& host, const CameraEnvironment& environment, transport::LinkObserver& observer)
    : host_(host),
      environment_(environment),
      link_(std::make_unique<transport::VideoLink>(video_, audio_, environment.addresses, environment.linkTiming)) {
    link_->SetObserver(&observer);
}

VideoSession::~VideoSession() {
    player_.Stop();
    // Once closed the link calls the camera no more from its reader; the link itself
    // goes first of the members.
    link_->Close();
}

std::uint64_t VideoSession::Closes() const {
    std::lock_guard lock(closeMutex_);
    return closes_;
}

void VideoSession::CountClose() {
    bool opening = false;
    {
        std::lock_guard lock(closeMutex_);
        ++closes_;
        opening = opening_;
    }
    // The Open returns now instead of after the reply time-out, and starts nothing.
    if (opening) link_->Close();
}

std::string VideoSession::CameraId() const {
    std::lock_guard lock(idMutex_);
    return cameraId_;
}

void VideoSession::Pause() {
    paused_ = true;
    link_->Pause();
}

void VideoSession::Resume() {
    paused_ = false;
    link_->Resume();
}

bool VideoSession::BuildStages(const std::string& cameraId) {
    auto decoder = std::make_unique<CDoDecoder>(host_);
    if (!decoder->Init()) {
        core::LogWrite("%s解码器创建失败!\n", cameraId.c_str());
        return false;
    }
    chain_.Append(std::move(decoder));

    auto mixer = std::make_unique<CDoMixer>(host_);
    if (!mixer->Init()) {
        core::LogWrite("%s混合器创建失败!\n", cameraId.c_str());
        return false;
    }
    chain_.Append(std::move(mixer));

    auto display = std::make_unique<CDoShow>(host_, environment_.displayTiming);
    if (!display->Init()) {
        core::LogWrite("%s播放器创建失败!\n", cameraId.c_str());
        return false;
    }
    chain_.Append(std::move(display), true);
    return true;
}

int VideoSession::Open(const std::string& cameraId, const std::string& address, int port,
                       platform::WindowHandle window, const std::string& password, std::uint64_t closesWhenAsked) {
    {
        std::lock_guard lock(closeMutex_);
        if (closes_ != closesWhenAsked) return kClosedWhileOpening;
        opening_ = true;
    }
    const int result = OpenSteps(cameraId, address, port, window, password, closesWhenAsked);
    std::lock_guard lock(closeMutex_);
    opening_ = false;
    return result;
}

int VideoSession::OpenSteps(const std::string& cameraId, const std::string& address, int port,
                            platform::WindowHandle window, const std::string& password, std::uint64_t closesWhenAsked) {
    chain_.ResetFrame();
    video_.Clear();
    paused_ = false;  // a new stream starts playing
    window_ = window;

    if (!BuildStages(cameraId)) {
        chain_.ClearStages();
        return ClosedSince(closesWhenAsked) ? kClosedWhileOpening : -3;
    }
    if (ClosedSince(closesWhenAsked)) {
        chain_.ClearStages();
        return kClosedWhileOpening;
    }

    const int result = link_->Open(cameraId, address, port, password);
    if (result == 1) {
        // Checked and started in one step with respect to the count: a Close either
        // came before (nothing starts) or comes after (it stops what started here).
        std::lock_guard lock(closeMutex_);
        if (closes_ == closesWhenAsked) {
            core::LogWrite("%s:%d连接转发成功！\n", address.c_str(), port);
            {
                std::lock_guard idLock(idMutex_);
                cameraId_ = cameraId;
            }
            player_.Start();
            return 1;
        }
    }
    if (ClosedSince(closesWhenAsked)) {
        // Closed while the link opened (a logout, say): nothing of this open may be left.
        link_->Close();
        chain_.ClearStages();
        return kClosedWhileOpening;
    }
    core::LogWrite("%s：%d连接转发失败,返回值:%d,sSxtId:%d!\n", address.c_str(), port, result, std::atoi(cameraId.c_str()));
    chain_.ClearStages();
    return result;
}

void VideoSession::Close() {
    link_->Close();
    player_.Stop();
    chain_.ClearStages();
    chain_.ResetFrame();
    video_.Clear();
    std::lock_guard lock(idMutex_);
    cameraId_.clear();
}

}  // namespace media
