#include "media/listening.h"

#include "core/log_file.h"

namespace media {
namespace {

constexpr AudioPlayback::Style kListeningStyle{.idleWaitMs = 50, .followStreamFormat = true};

}  // namespace

Listening::Listening(transport::VideoLink& link, transport::PacketQueue& audio)
    : link_(link), audio_(audio), playback_(audio, kListeningStyle) {}

bool Listening::Start(platform::WindowHandle window, AudioRefusal* why) {
    audio_.Clear();
    if (!playback_.Open(window)) {
        core::LogWrite("InitAudio mAudioPlay: %08x Error!\n", static_cast<unsigned>(playback_.Player()));
        playback_.Release();
        return Refuse(why, AudioRefusal::kNoOutputDevice);
    }
    if (const int played = playback_.StartPlayer(); played == 0) {
        core::LogWrite("bPlay: %d Failed!\n", played);
        playback_.Release();
        return Refuse(why, AudioRefusal::kNoOutputDevice);
    }
    if (!link_.AudioOn()) {
        core::LogWrite("Open Audio Failed!\n");
        playback_.Release();
        return Refuse(why, AudioRefusal::kRefused);
    }
    playback_.Start();
    if (why) *why = AudioRefusal::kNone;
    return true;
}

void Listening::Stop() {
    link_.AudioOff();
    playback_.Stop();
    playback_.Release();
    audio_.Clear();
}

}  // namespace media
