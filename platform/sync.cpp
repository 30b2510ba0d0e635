#include "platform/sync.h"

#include <algorithm>
#include <condition_variable>
#include <optional>

namespace platform {

struct Waitable::WakeBlock {
    std::mutex mutex;
    std::condition_variable cv;
    bool woken = false;

    void Wake() {
        {
            std::lock_guard lock(mutex);
            woken = true;
        }
        cv.notify_one();
    }
};

void Waitable::WakeWaitersLocked() {
    for (WakeBlock* block : waiters_) block->Wake();
}

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

bool Waitable::Wait(std::uint32_t timeoutMs) {
    Waitable* self = this;
    std::optional<Clock::time_point> deadline;
    if (timeoutMs != kInfinite) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    return WaitOnObjects(&self, 1, deadline) == 0;
}

bool Waitable::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    Waitable* self = this;
    return WaitOnObjects(&self, 1, deadline) == 0;
}

int WaitForAny(const std::vector<Waitable*>& objects, std::uint32_t timeoutMs) {
    std::optional<Clock::time_point> deadline;
    if (timeoutMs != kInfinite) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    return Waitable::WaitOnObjects(objects.data(), objects.size(), deadline);
}

int Waitable::WaitOnObjects(Waitable* const* objects, std::size_t count,
                            std::optional<std::chrono::steady_clock::time_point> deadline) {
    // Fast path without registering: most waits find a signal at once.
    for (std::size_t i = 0; i < count; ++i) {
        std::lock_guard lock(objects[i]->mutex_);
        if (objects[i]->TryAcquireLocked()) return static_cast<int>(i);
    }
    if (deadline && Clock::now() >= *deadline) return kWaitTimeout;

    Waitable::WakeBlock block;
    for (std::size_t i = 0; i < count; ++i) {
        std::lock_guard lock(objects[i]->mutex_);
        objects[i]->waiters_.push_back(&block);
    }
    int result = kWaitTimeout;
    for (;;) {
        for (std::size_t i = 0; i < count && result == kWaitTimeout; ++i) {
            std::lock_guard lock(objects[i]->mutex_);
            if (objects[i]->TryAcquireLocked()) result = static_cast<int>(i);
        }
        if (result != kWaitTimeout) break;
        std::unique_lock lock(block.mutex);
        // A signal that arrived after the poll above has already set `woken`.
        if (!block.woken) {
            if (deadline) {
                if (!block.cv.wait_until(lock, *deadline, [&] { return block.woken; })) break;
            } else {
                block.cv.wait(lock, [&] { return block.woken; });
            }
        }
        block.woken = false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::lock_guard lock(objects[i]->mutex_);
        auto& list = objects[i]->waiters_;
        list.erase(std::remove(list.begin(), list.end(), &block), list.end());
    }
    // The deadline may have passed just as a signal came: take it rather than lose it.
    if (result == kWaitTimeout) {
        for (std::size_t i = 0; i < count; ++i) {
            std::lock_guard lock(objects[i]->mutex_);
            if (objects[i]->TryAcquireLocked()) return static_cast<int>(i);
        }
    }
    return result;
}

Event::Event(bool manualReset, bool initiallySet) : manualReset_(manualReset), set_(initiallySet) {}

void Event::Set() {
    std::lock_guard lock(mutex_);
    set_ = true;
    WakeWaitersLocked();
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::IsSet() {
    std::lock_guard lock(mutex_);
    return set_;
}

bool Event::TryAcquireLocked() {
    if (!set_) return false;
    if (!manualReset_) set_ = false;
    return true;
}

Semaphore::Semaphore(long initial, long maximum) : count_(initial), maximum_(maximum) {}

bool Semaphore::Release(long count) {
    std::lock_guard lock(mutex_);
    if (count <= 0 || count > maximum_ - count_) return false;
    count_ += count;
    WakeWaitersLocked();
    return true;
}

long Semaphore::Count() {
    std::lock_guard lock(mutex_);
    return count_;
}

bool Semaphore::TryAcquireLocked() {
    if (count_ == 0) return false;
    --count_;
    return true;
}

}  // namespace platform
