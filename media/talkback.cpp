#include "media/talkback.h"

#include "core/log_file.h"
#include "libs/earshot/earshot.h"
#include "media/talk_audio.h"
#include "platform/tick.h"

namespace media {
namespace {

constexpr AudioPlayback::Style kAnswerStyle{.idleWaitMs = 30, .followStreamFormat = false};

}  // namespace

Talkback::Talkback(const CameraEnvironment& environment)
    : environment_(environment), playback_(answer_, kAnswerStyle), encoder_(chime::InitEnc(chime::kCodecAlaw)) {}

Talkback::~Talkback() {
    if (playback_.Running()) Stop();
    link_.reset();
    chime::DelInitEnc(encoder_);
}

void Talkback::CreateLink() {
    if (link_) return;
    transport::LinkTiming timing = environment_.linkTiming;
    timing.heartbeatStartMs = transport::TalkLink::DefaultTiming().heartbeatStartMs;
    link_ = std::make_unique<transport::TalkLink>(answer_, environment_.talkAddresses, timing);
}

bool Talkback::Start(const std::string& cameraId, const std::string& address, int port, const std::string& password,
                     platform::WindowHandle window, AudioRefusal* why) {
    answer_.Clear();
    if (!link_) {
        core::LogWrite("Open Talk Failed!\n");
        return Refuse(why, AudioRefusal::kRefused);
    }
    // The microphone first: without one no talk link and no voice channel are opened
    // for nothing.
    if (!TARN_AudioCap_Init()) {
        core::LogWrite("TARN_AudioCap_Init Failed!\n");
        return Refuse(why, AudioRefusal::kNoMicrophone);
    }
    const int result = link_->Open(cameraId, address, port, password);
    if (result != 1) {
        core::LogWrite("对讲连接转发失败ret=%d！\n", result);
        link_->Close();  // a refused open leaves no connection behind
        TARN_AudioCap_DelInit();
        return Refuse(why, AudioRefusal::kRefused);
    }
    if (const std::string id = link_->TalkId(); !id.empty()) {
        std::lock_guard lock(idMutex_);
        talkId_ = id;
    }
    if (!link_->Command(transport::TalkLink::kOpenVoice, true)) {
        core::LogWrite("发送命令CMD_OPENVOICE失败！\n");
        link_->Close();
        TARN_AudioCap_DelInit();
        return Refuse(why, AudioRefusal::kRefused);
    }
    // The talk path never calls Play: the player starts with its first data.
    playback_.Open(window);
    playback_.Start();

    if (encoder_ != 0) {
        TARN_AudioCap_Start(&Talkback::CaptureCallback, this);
        if (!earshot::Capturing()) {
            // The device is there but would not start: nothing would be heard.
            core::LogWrite("TARN_AudioCap_Start Failed!\n");
            Stop();
            link_->Close();
            return Refuse(why, AudioRefusal::kNoMicrophone);
        }
    }
    if (why) *why = AudioRefusal::kNone;
    return true;
}

void Talkback::Stop() {
    TARN_AudioCap_Stop();
    TARN_AudioCap_DelInit();
    if (link_) link_->Command(transport::TalkLink::kCloseVoice, false);
    playback_.Stop();
    playback_.Release();
    answer_.Clear();
}

void Talkback::CloseLink() {
    if (link_) link_->Close();
}

std::string Talkback::TalkId() const {
    std::lock_guard lock(idMutex_);
    return talkId_;
}

void Talkback::CaptureCallback(const std::uint8_t* pcm, int length, void* user) {
    if (user != nullptr) static_cast<Talkback*>(user)->SendCaptured(pcm, length);
}

void Talkback::SendCaptured(const std::uint8_t* pcm, int length) {
    transport::TalkLink* link = link_.get();
    if (link == nullptr || pcm == nullptr || length < kTalkBlockBytes) return;
    message_.resize(kTalkHeaderSize + kTalkBlockBytes);
    BuildTalkAudioHeader(message_.data(), platform::TickCount(), TalkId());
    // Whole 640-byte blocks only; a shorter remainder is dropped.
    for (int block = 0; block < length / kTalkBlockBytes; ++block) {
        const int coded = chime::Encode(encoder_, pcm + static_cast<std::ptrdiff_t>(block) * kTalkBlockBytes,
                                        kTalkBlockBytes, message_.data() + kTalkHeaderSize);
        if (coded <= 0) continue;
        const long sent = link->SendTalkAudio(message_.data(), kTalkHeaderSize + static_cast<std::size_t>(coded));
        if (sent > 0)
            link->MarkHeartbeatReply();
        else if (sent < 0)
            core::LogWrite("TCollectDate SendDate Failed.\n");
    }
}

}  // namespace media
