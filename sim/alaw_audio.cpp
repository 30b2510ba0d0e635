#include "sim/alaw_audio.h"

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include "sim/camera_picture.h"

namespace sim {

std::vector<std::uint8_t> EncodeAlaw(const std::int16_t* samples, std::size_t count) {
    std::vector<std::uint8_t> coded;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_ALAW);
    if (codec == nullptr || count == 0) return coded;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool ok = context && frame && packet;
    if (ok) {
        context->sample_rate = kAudioSampleRate;
        context->sample_fmt = AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&context->ch_layout, 1);
        ok = avcodec_open2(context, codec, nullptr) >= 0;
    }
    if (ok) {
        frame->format = AV_SAMPLE_FMT_S16;
        frame->nb_samples = static_cast<int>(count);
        frame->sample_rate = kAudioSampleRate;
        av_channel_layout_default(&frame->ch_layout, 1);
        ok = av_frame_get_buffer(frame, 0) >= 0;
    }
    if (ok) {
        std::copy(samples, samples + count, reinterpret_cast<std::int16_t*>(frame->data[0]));
        ok = avcodec_send_frame(context, frame) >= 0 && avcodec_receive_packet(context, packet) >= 0;
    }
    if (ok) coded.assign(packet->data, packet->data + packet->size);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return coded;
}

std::shared_ptr<const AudioLoop> MakeVoiceLoop(const std::string& cameraId) {
    constexpr int kPackets = 50;  // two seconds
    constexpr double kPi = 3.14159265358979;
    const std::uint32_t seed = CameraSeed(cameraId);
    const double pitch = 110.0 + seed % 120;  // Hz
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(kPackets) * kAudioBlockSamples);
    double phase = 0;
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double t = static_cast<double>(n) / kAudioSampleRate;
        // Four syllables a second with a pause after every third, and a gliding pitch.
        const double syllable = std::fmod(t * 4.0, 1.0);
        const bool pause = static_cast<int>(t * 4.0) % 4 == 3;
        const double envelope = pause ? 0.0 : std::sin(kPi * syllable);
        phase += 2 * kPi * pitch * (1.0 + 0.08 * std::sin(2 * kPi * 1.5 * t)) / kAudioSampleRate;
        double value = 0;
        for (int harmonic = 1; harmonic <= 6; ++harmonic) value += std::sin(harmonic * phase) / harmonic;
        pcm[n] = static_cast<std::int16_t>(std::lround(6000.0 * envelope * value));
    }
    // A-law codes every sample into one byte, so the coded loop splits into packets.
    const std::vector<std::uint8_t> coded = EncodeAlaw(pcm.data(), pcm.size());
    if (coded.size() != pcm.size()) return nullptr;
    auto loop = std::make_shared<AudioLoop>();
    for (int p = 0; p < kPackets; ++p) {
        auto begin = coded.begin() + static_cast<std::ptrdiff_t>(p) * kAudioBlockSamples;
        std::vector<std::uint8_t> packet(begin, begin + kAudioBlockSamples);
        packet.insert(packet.end(), kAudioPadding, kAlawSilence);
        loop->packets.push_back(std::move(packet));
    }
    return loop;
}

}  // namespace sim
