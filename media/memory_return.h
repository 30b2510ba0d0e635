#pragma once
// Gives the memory that closed cameras freed back to the system. A camera's decoder,
// pictures, surfaces and packets are tens of megabytes for a wall of cameras, allocated
// on many threads: the C library keeps what they free in its per-thread arenas, so
// after "close all" the process stayed at the size it had with every camera playing,
// and grew with each further cycle as the arenas fragmented (measured with
// bench_open_close: every byte freed, yet 150-190 MB held). Two things mend it:
//  - the large buffers of a stream (pictures, the decoder's frames, surfaces) are
//    always mapped on their own, so they go back to the system as they are freed and
//    never fragment the arenas (left to itself the C library raises that threshold to
//    the size of the first such buffer freed, and from then on keeps them);
//  - one malloc_trim after a burst of closes returns the rest. Trimming after every
//    single close would cost up to 20 ms each, so requests are gathered and served
//    once the closes have been quiet a moment.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace media {

// Buffers of 256 KB and more get mappings of their own. Once, at start-up (before the
// first camera); later calls do nothing.
void MapLargeStreamBuffers();

class FreedMemoryReturn {
public:
    // The process's own, serving requests 200 ms after the last one. Never destroyed:
    // cameras may close while the process exits.
    static FreedMemoryReturn& Instance();

    // `giveBack` does the returning (malloc_trim by default).
    explicit FreedMemoryReturn(std::chrono::milliseconds quiet, std::function<void()> giveBack = {});
    ~FreedMemoryReturn();
    FreedMemoryReturn(const FreedMemoryReturn&) = delete;
    FreedMemoryReturn& operator=(const FreedMemoryReturn&) = delete;

    // Any thread; returns at once. The memory goes back `quiet` after the last request.
    void Request();
    // How many times memory was given back (tests, diagnostics).
    std::uint64_t Returns() const;

private:
    void Run();

    const std::chrono::milliseconds quiet_;
    const std::function<void()> giveBack_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point due_;
    std::uint64_t returns_ = 0;
    std::thread worker_;  // started by the first request
};

}  // namespace media
