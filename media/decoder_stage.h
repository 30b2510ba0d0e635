#pragma once
// The decode stage: takes the oldest video packet, hands it to the recorder while the
// camera records, and decodes it with vdec into the stage's own picture buffer.

#include <cstdint>
#include <memory>
#include <string>

#include "media/stage.h"

namespace transport {
struct MediaPacket;
}

namespace media {

// Pictures larger than this are refused before any buffer is allocated (the largest
// picture H.264 allows is about 36 million pixels, at most 8192 on a side).
constexpr int kMaxPictureSide = 8192;
constexpr std::int64_t kMaxPicturePixels = 36'000'000;

// Bytes of a planar 4:2:0 picture of width x height (width * height * 1.5, truncated).
std::size_t PictureBytes(int width, int height);

// "%Y-%m-%d %H:%M:%S" in local time for a packet timestamp in milliseconds; empty when
// the time cannot be represented.
std::string ReplayTimeText(std::uint64_t timestampMs);

class CDoDecoder final : public CDoHandle {
public:
    explicit CDoDecoder(StageHost& host);
    ~CDoDecoder() override;

    bool Init() override;
    bool Release() override;
    bool Process(StageFrame& frame) override;

    // For tests and diagnostics.
    std::size_t BufferBytes();
    unsigned long Handle();

private:
    // Makes the buffer fit the announced size; false when the packet cannot be decoded.
    bool FitBuffer(int width, int height, StageFrame& frame);
    void Reallocate(std::size_t bytes, StageFrame& frame);
    void HandToRecorder(const transport::MediaPacket& packet);

    unsigned long handle_ = 0;
    int cachedWidth_ = 0;
    int cachedHeight_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t bufferBytes_ = 0;
};

}  // namespace media
