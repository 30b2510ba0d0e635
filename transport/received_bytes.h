#pragma once
// Bytes received by every forwarding link of the process, for the status bar's
// kilobytes-per-second figure.

#include <atomic>
#include <cstdint>

namespace transport {

inline std::atomic<std::uint64_t>& ReceivedByteCounter() {
    static std::atomic<std::uint64_t> counter{0};
    return counter;
}

// The bytes received since the last call.
inline std::uint64_t TakeReceivedBytes() { return ReceivedByteCounter().exchange(0, std::memory_order_relaxed); }

}  // namespace transport
