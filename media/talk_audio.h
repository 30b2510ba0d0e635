#pragma once
// The talk audio message the client sends on a talk link for every 640-byte block of
// captured sound (little-endian):
//   0 type 2 | 1 sub-type 4 (2 bytes) | 3 0 (2) | 5 sender's ms tick (4) | 9 0 (4)
//   13 talk id, zero-terminated (18) | 31 the coded block

#include <cstddef>
#include <cstdint>
#include <string>

namespace media {

constexpr std::size_t kTalkHeaderSize = 31;
constexpr std::size_t kTalkIdFieldSize = 18;
constexpr int kTalkBlockBytes = 640;  // 40 ms of 8 kHz 16-bit mono sound

// A talk id longer than 17 characters is cut so that the field stays terminated.
void BuildTalkAudioHeader(std::uint8_t out[kTalkHeaderSize], std::uint32_t tick, const std::string& talkId);

}  // namespace media
