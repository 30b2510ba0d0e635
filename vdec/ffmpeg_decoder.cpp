#include "vdec/ffmpeg_decoder.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "vdec/picture_copy.h"
#include "vdec/vdec.h"

namespace vdec {
namespace {

// Bounds the loops that empty the codec after a call; one access unit yields one
// picture, so anything beyond this is a broken stream.
constexpr int kMaxPendingPictures = 16;

bool ChromaLayoutOf(int format, ChromaLayout& layout) {
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
        layout = ChromaLayout::k420;
        return true;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        layout = ChromaLayout::k422;
        return true;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
        layout = ChromaLayout::k444;
        return true;
    default:
        return false;
    }
}

}  // namespace

std::shared_ptr<CFFmpegDeCode> CFFmpegDeCode::Open() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) return nullptr;
    std::shared_ptr<CFFmpegDeCode> decoder(new CFFmpegDeCode);
    decoder->context_ = avcodec_alloc_context3(codec);
    decoder->frame_ = av_frame_alloc();
    decoder->packet_ = av_packet_alloc();
    if (decoder->context_ == nullptr || decoder->frame_ == nullptr || decoder->packet_ == nullptr) return nullptr;
    if (avcodec_open2(decoder->context_, codec, nullptr) < 0) return nullptr;
    return decoder;
}

CFFmpegDeCode::~CFFmpegDeCode() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    av_buffer_unref(&input_);
}

bool CFFmpegDeCode::PrepareInput(int length) {
    const std::size_t needed = static_cast<std::size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
    // The codec may still hold a reference to the previous input; never write into a
    // buffer it can read.
    if (input_ != nullptr && (!av_buffer_is_writable(input_) || input_->size < needed)) av_buffer_unref(&input_);
    if (input_ == nullptr) {
        // Grow in steps so a slowly growing stream does not reallocate every call.
        input_ = av_buffer_alloc(needed + needed / 2);
        if (input_ == nullptr) return false;
    }
    return true;
}

bool CFFmpegDeCode::SendInput(int length) {
    packet_->buf = input_;  // borrowed: the codec takes its own reference
    packet_->data = input_->data;
    packet_->size = length;
    int sent = avcodec_send_packet(context_, packet_);
    if (sent == AVERROR(EAGAIN)) {
        // Output left from an earlier call blocks new input: drop it and, if the codec
        // still refuses, reset it rather than stall every later call.
        DiscardPending();
        sent = avcodec_send_packet(context_, packet_);
        if (sent == AVERROR(EAGAIN)) {
            avcodec_flush_buffers(context_);
            sent = avcodec_send_packet(context_, packet_);
        }
    }
    packet_->buf = nullptr;
    packet_->data = nullptr;
    packet_->size = 0;
    return sent >= 0;
}

void CFFmpegDeCode::DiscardPending() {
    for (int i = 0; i < kMaxPendingPictures; ++i) {
        if (avcodec_receive_frame(context_, frame_) < 0) return;
        av_frame_unref(frame_);
    }
}

DecodeOutcome CFFmpegDeCode::Decode(const std::uint8_t* data, int length, std::uint8_t* picture,
                                    std::size_t capacity) {
    // An empty packet would put the codec into draining mode for good.
    if (data == nullptr || length <= 0) return {};
    std::lock_guard lock(mutex_);
    if (!PrepareInput(length)) return {};
    std::memcpy(input_->data, data, static_cast<std::size_t>(length));
    std::memset(input_->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    if (!SendInput(length)) return {};

    if (avcodec_receive_frame(context_, frame_) < 0) return {};
    DecodeOutcome outcome = Pack(picture, capacity);
    outcome.consumed = length;  // a video packet is always taken whole
    av_frame_unref(frame_);
    DiscardPending();
    return outcome;
}

DecodeOutcome CFFmpegDeCode::Pack(std::uint8_t* picture, std::size_t capacity) const {
    DecodeOutcome outcome;
    outcome.width = frame_->width;
    outcome.height = frame_->height;
    const std::size_t size = PackedPictureSize(frame_->width, frame_->height);
    SourcePicture source;
    if (size == 0 || !ChromaLayoutOf(frame_->format, source.chroma) || frame_->data[0] == nullptr ||
        frame_->data[1] == nullptr || frame_->data[2] == nullptr) {
        outcome.result = kVdecUnsupportedFormat;
        return outcome;
    }
    if (size > capacity) {
        outcome.result = kVdecBufferTooSmall;
        return outcome;
    }
    source.width = frame_->width;
    source.height = frame_->height;
    for (int plane = 0; plane < 3; ++plane) {
        source.planes[plane] = frame_->data[plane];
        source.strides[plane] = frame_->linesize[plane];
    }
    PackYv12(source, picture);
    outcome.result = 1;
    return outcome;
}

}  // namespace vdec
