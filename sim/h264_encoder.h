#pragma once
// H.264 encoding of synthetic camera pictures: libx264 through libavcodec, baseline
// profile, no B-frames, one access unit out per picture in (zero latency), Annex B
// with the sequence and picture parameter sets in front of every key frame.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QImage;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace sim {

struct EncoderSettings {
    int width = 704;
    int height = 576;
    int frameRate = 25;
    int qp = 28;  // constant quantiser, 0..51
    int keyFrameSeconds = 1;
};

struct EncodedFrame {
    std::vector<std::uint8_t> data;  // one access unit, start code first
    bool key = false;
};

class H264Encoder {
public:
    // Nothing when the settings are out of range or libx264 is not available.
    static std::unique_ptr<H264Encoder> Open(const EncoderSettings& settings, std::string* error = nullptr);
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Encodes one picture of the encoder's size (QImage::Format_RGB32). A key frame
    // comes every keyFrameSeconds × frameRate pictures, and whenever `forceKey` is set.
    bool Encode(const QImage& picture, bool forceKey, EncodedFrame& out);
    const EncoderSettings& Settings() const { return settings_; }

private:
    explicit H264Encoder(const EncoderSettings& settings) : settings_(settings) {}

    EncoderSettings settings_;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    std::int64_t nextPts_ = 0;
};

// Sizes and rates the synthetic cameras accept.
bool ValidVideoSize(int width, int height);
bool ValidFrameRate(int frameRate);

}  // namespace sim
