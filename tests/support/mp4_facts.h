#pragma once
// What libavformat and libavcodec make of an MP4 file: its video stream's size and
// duration, the packets read and the pictures each decodes to (single-threaded).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <string>
#include <vector>

namespace testing_support {

struct Mp4Facts {
    int streams = 0, width = 0, height = 0;
    double duration = 0;  // seconds, of the video stream
    int packets = 0, decoded = 0, decodeErrors = 0;
    std::vector<std::string> pictures;  // Y U V, as the reference holds them
};

inline Mp4Facts ReadMp4(const std::string& path) {
    Mp4Facts facts;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return facts;
    avformat_find_stream_info(format, nullptr);
    facts.streams = static_cast<int>(format->nb_streams);
    if (facts.streams == 0) {
        avformat_close_input(&format);
        return facts;
    }
    AVStream* stream = format->streams[0];
    facts.width = stream->codecpar->width;
    facts.height = stream->codecpar->height;
    facts.duration = stream->duration * av_q2d(stream->time_base);
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(context, stream->codecpar);
    context->thread_count = 1;
    avcodec_open2(context, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            ++facts.decoded;
            std::string yuv;
            for (int plane = 0; plane < 3; ++plane) {
                const int w = plane ? frame->width / 2 : frame->width, h = plane ? frame->height / 2 : frame->height;
                for (int row = 0; row < h; ++row)
                    yuv.append(reinterpret_cast<const char*>(frame->data[plane] + row * frame->linesize[plane]), w);
            }
            facts.pictures.push_back(std::move(yuv));
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        ++facts.packets;
        if (avcodec_send_packet(context, packet) < 0) ++facts.decodeErrors;
        av_packet_unref(packet);
        drain();
    }
    avcodec_send_packet(context, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return facts;
}

}  // namespace testing_support
