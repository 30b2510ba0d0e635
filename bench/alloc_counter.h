#pragma once
// Counts heap allocations through a replaced global operator new (alloc_counter.cpp,
// linked into a benchmark program). Threads can opt out, so that a benchmark counts
// only the side it measures.

#include <atomic>
#include <cstdint>

namespace bench {

std::uint64_t Allocations();
// Allocations made by this thread from now on are not counted.
void IgnoreThisThread();

}  // namespace bench
