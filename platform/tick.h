#pragma once
// The 32-bit millisecond tick. It wraps after about 49.7 days, so compare ticks only
// through TickSince / TickElapsed, which stay correct across the wrap.

#include <cstdint>

namespace platform {

std::uint32_t TickCount();

// Milliseconds from `earlier` to `later`, modulo 2^32.
constexpr std::uint32_t TickDiff(std::uint32_t later, std::uint32_t earlier) { return later - earlier; }

inline std::uint32_t TickSince(std::uint32_t earlier) { return TickDiff(TickCount(), earlier); }

}  // namespace platform
