#include "media/audio_playback.h"

#include <vector>

namespace media {

std::optional<chime::AudioFormat> PlayerFormatOf(const transport::StreamInfo& info) {
    const std::uint32_t channels = info.RateOrChannels();
    const std::uint32_t rate = info.WidthOrSampleRate();
    const std::uint32_t bits = info.HeightOrBits();
    if (channels == 0 || rate == 0 || rate > static_cast<std::uint32_t>(chime::kMaxSampleRate) || (bits != 8 && bits != 16)) return std::nullopt;
    return chime::AudioFormat{static_cast<int>(channels), static_cast<int>(rate), static_cast<int>(bits)};
}

AudioPlayback::AudioPlayback(transport::PacketQueue& queue, Style style) : queue_(queue), style_(style) {}

AudioPlayback::~AudioPlayback() {
    Stop();
    Release();
}

bool AudioPlayback::Open(platform::WindowHandle window) {
    Stop();
    Release();
    window_ = window;
    playerFormat_ = chime::AudioFormat{};
    decoder_ = chime::InitDec(chime::kCodecAlaw);
    player_ = chime::OpenAudio(window_, static_cast<std::uint8_t>(playerFormat_->channels), playerFormat_->sampleRate,
                               static_cast<std::uint16_t>(playerFormat_->bitsPerSample));
    return player_ != 0;
}

int AudioPlayback::StartPlayer() { return chime::Play(player_); }

void AudioPlayback::Start() {
    if (!thread_.IsRunning()) thread_.Start([this](core::ThreadWrapper& thread) { Loop(thread); });
}

void AudioPlayback::Stop() { thread_.Stop(); }

void AudioPlayback::Release() {
    chime::DelInitDec(decoder_);
    chime::CloseAudio(player_);
    decoder_ = 0;
    player_ = 0;
}

void AudioPlayback::Loop(core::ThreadWrapper& thread) {
    std::vector<std::uint8_t> pcm(chime::kDecodeBufferBytes);
    while (!thread.WaitForStop(kPollMs)) {
        thread.Beat();
        transport::PacketQueue::Record packet = queue_.Pop();
        if (!packet) {
            if (thread.WaitForStop(style_.idleWaitMs)) break;
            continue;
        }
        PlayPacket(*packet, pcm.data());
        queue_.Release(std::move(packet));
    }
}

void AudioPlayback::PlayPacket(const transport::MediaPacket& packet, std::uint8_t* pcm) {
    if (style_.followStreamFormat) {
        if (decoder_ == 0 || packet.info.Codec() != chime::kCodecAlaw) return;
        const std::optional<chime::AudioFormat> format = PlayerFormatOf(packet.info);
        if (format != playerFormat_) {
            // The stream changed its format: a player for the new one before its sound,
            // or none for a format no player plays (its sound is dropped).
            playerFormat_ = format;
            chime::CloseAudio(player_);
            player_ = 0;
            if (format) {
                player_ = chime::OpenAudio(window_, static_cast<std::uint8_t>(format->channels), format->sampleRate,
                                           static_cast<std::uint16_t>(format->bitsPerSample));
                chime::Play(player_);
            }
        }
        if (packet.info.Kind() != kAudioStreamKind) return;
    }
    if (packet.length <= kAudioOverheadBytes) return;
    const int decoded =
        chime::Decode(decoder_, packet.Payload(), static_cast<int>(packet.length - kAudioOverheadBytes), pcm);
    if (decoded > 0 && player_ != 0) chime::AddAudioData(player_, pcm, decoded);
}

}  // namespace media
