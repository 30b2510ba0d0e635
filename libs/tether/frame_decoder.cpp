#include "libs/tether/frame_decoder.h"

namespace tether {

std::array<unsigned char, kFrameHeaderSize> EncodeFrameHeader(std::uint32_t length) {
    return {static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
            static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
}

FrameDecoder::FrameDecoder(std::uint32_t maxMessageSize) : maxMessageSize_(maxMessageSize) {}

std::size_t FrameDecoder::TakeHeader(const char* data, std::size_t length) {
    std::size_t take = kFrameHeaderSize - header_.size();
    if (take > length) take = length;
    header_.append(data, take);
    if (header_.size() < kFrameHeaderSize) return take;

    const auto* bytes = reinterpret_cast<const unsigned char*>(header_.data());
    bodyLength_ = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
                  std::uint32_t{bytes[3]};
    header_.clear();
    if (bodyLength_ > maxMessageSize_) {
        failed_ = true;
        return take;
    }
    haveLength_ = true;
    return take;
}

}  // namespace tether
