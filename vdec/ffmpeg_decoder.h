#pragma once
// One H.264 decoder: a libavcodec context opened with its default options, fed one
// access unit per call through send packet / receive frame.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vdec {

struct DecodeOutcome {
    int result = 0;    // 1, 0, kVdecBufferTooSmall or kVdecUnsupportedFormat
    int width = 0;     // of the decoded picture, when there was one
    int height = 0;
    int consumed = 0;  // input bytes the decoder took, when there was a picture
};

class CFFmpegDeCode {
public:
    // A decoder ready for use, or nothing when libavcodec has no H.264 decoder or
    // cannot open one.
    static std::shared_ptr<CFFmpegDeCode> Open();

    // Closes the codec. Runs when the last reference goes, so a decode in progress on
    // another thread finishes on a live codec.
    ~CFFmpegDeCode();

    CFFmpegDeCode(const CFFmpegDeCode&) = delete;
    CFFmpegDeCode& operator=(const CFFmpegDeCode&) = delete;

    // Decodes one whole access unit. A picture that comes out is packed into
    // `picture` only when it fits `capacity` bytes and is of a layout we can pack.
    // Calls are serialised per decoder.
    DecodeOutcome Decode(const std::uint8_t* data, int length, std::uint8_t* picture, std::size_t capacity);

private:
    CFFmpegDeCode() = default;

    // Makes the reusable input buffer writable and big enough for `length` bytes and
    // libavcodec's zeroed read-ahead padding.
    bool PrepareInput(int length);
    // Hands the packet to the codec; false when it refused it.
    bool SendInput(int length);
    // Drops any further pictures of this access unit, so no output or input is left
    // over for the next call.
    void DiscardPending();
    DecodeOutcome Pack(std::uint8_t* picture, std::size_t capacity) const;

    std::mutex mutex_;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVBufferRef* input_ = nullptr;
};

}  // namespace vdec
