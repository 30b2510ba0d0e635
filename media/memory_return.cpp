#include "media/memory_return.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace media {
namespace {

void TrimHeap() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace

void MapLargeStreamBuffers() {
#if defined(__GLIBC__)
    static const bool done = [] { return mallopt(M_MMAP_THRESHOLD, 256 * 1024) == 1; }();
    (void)done;
#endif
}

FreedMemoryReturn& FreedMemoryReturn::Instance() {
    static FreedMemoryReturn* instance = new FreedMemoryReturn(std::chrono::milliseconds(200));
    return *instance;
}

FreedMemoryReturn::FreedMemoryReturn(std::chrono::milliseconds quiet, std::function<void()> giveBack)
    : quiet_(quiet), giveBack_(giveBack ? std::move(giveBack) : std::function<void()>(TrimHeap)) {}

FreedMemoryReturn::~FreedMemoryReturn() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void FreedMemoryReturn::Request() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        pending_ = true;
        due_ = std::chrono::steady_clock::now() + quiet_;
        if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    }
    wake_.notify_all();
}

std::uint64_t FreedMemoryReturn::Returns() const {
    std::lock_guard lock(mutex_);
    return returns_;
}

void FreedMemoryReturn::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!pending_) {
            wake_.wait(lock);
            continue;
        }
        // Each request moves the moment on: wait until the closes are over.
        if (std::chrono::steady_clock::now() < due_) {
            wake_.wait_until(lock, due_);
            continue;
        }
        pending_ = false;
        lock.unlock();
        giveBack_();
        lock.lock();
        ++returns_;
    }
}

}  // namespace media
