#include "sim/h264_encoder.h"

#include <QImage>

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace sim {

bool ValidVideoSize(int width, int height) {
    // Even sizes for 4:2:0; the compact frame header holds 12 bits of each.
    return width >= 64 && height >= 64 && width <= 1920 && height <= 1088 && width % 2 == 0 && height % 2 == 0;
}

// The compact frame header carries the rate in 5 bits.
bool ValidFrameRate(int frameRate) { return frameRate >= 1 && frameRate <= 30; }

std::unique_ptr<H264Encoder> H264Encoder::Open(const EncoderSettings& settings, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return nullptr;
    };
    if (!ValidVideoSize(settings.width, settings.height) || !ValidFrameRate(settings.frameRate) || settings.qp < 0 ||
        settings.qp > 51)
        return fail("encoder settings out of range");
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) return fail("libavcodec has no libx264 encoder");

    std::unique_ptr<H264Encoder> encoder(new H264Encoder(settings));
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (context == nullptr) return fail("out of memory");
    encoder->context_ = context;
    context->width = settings.width;
    context->height = settings.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, settings.frameRate};
    context->framerate = AVRational{settings.frameRate, 1};
    context->gop_size = settings.frameRate * std::clamp(settings.keyFrameSeconds, 1, 60);
    context->keyint_min = context->gop_size;
    context->max_b_frames = 0;
    context->thread_count = 1;  // many cameras encode at once; each stays on one core
    // Without a global header libavcodec has x264 repeat the parameter sets before
    // every key frame, so each key frame can start a stream.
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "profile", "baseline", 0);
    av_opt_set_int(context->priv_data, "qp", settings.qp, 0);
    av_opt_set_int(context->priv_data, "forced-idr", 1, 0);
    av_opt_set(context->priv_data, "x264-params", "scenecut=0:aud=0:log=-1", 0);
    if (avcodec_open2(context, codec, nullptr) < 0) return fail("libx264 refused the settings");

    encoder->frame_ = av_frame_alloc();
    encoder->packet_ = av_packet_alloc();
    if (encoder->frame_ == nullptr || encoder->packet_ == nullptr) return fail("out of memory");
    encoder->frame_->format = AV_PIX_FMT_YUV420P;
    encoder->frame_->width = settings.width;
    encoder->frame_->height = settings.height;
    if (av_frame_get_buffer(encoder->frame_, 0) < 0) return fail("out of memory");
    // QImage::Format_RGB32 is a native-endian 0xffRRGGBB word, FFmpeg's RGB32.
    encoder->scaler_ = sws_getContext(settings.width, settings.height, AV_PIX_FMT_RGB32, settings.width,
                                      settings.height, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    if (encoder->scaler_ == nullptr) return fail("no colour conversion");
    return encoder;
}

H264Encoder::~H264Encoder() {
    sws_freeContext(scaler_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
}

bool H264Encoder::Encode(const QImage& picture, bool forceKey, EncodedFrame& out) {
    if (picture.width() != settings_.width || picture.height() != settings_.height ||
        picture.format() != QImage::Format_RGB32)
        return false;
    if (av_frame_make_writable(frame_) < 0) return false;
    const std::uint8_t* source[1] = {picture.constBits()};
    const int sourceStride[1] = {static_cast<int>(picture.bytesPerLine())};
    sws_scale(scaler_, source, sourceStride, 0, settings_.height, frame_->data, frame_->linesize);
    frame_->pts = nextPts_++;
    frame_->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(context_, frame_) < 0) return false;
    // Zero latency: the access unit of this picture comes out at once.
    if (avcodec_receive_packet(context_, packet_) < 0) return false;
    out.data.assign(packet_->data, packet_->data + packet_->size);
    out.key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(packet_);
    return true;
}

}  // namespace sim
