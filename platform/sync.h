#pragma once
// Kernel-style synchronisation objects: events, semaphores and a wait for any of
// several of them. Waits take milliseconds; kInfinite waits without a time-out.

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int kWaitTimeout = -1;

class Waitable;

// Something that can be signalled: an event or a semaphore. A waiter registers a
// wake-up block with every object it waits on, so one signal wakes it whichever
// object fired.
class Waitable {
public:
    virtual ~Waitable() = default;
    Waitable() = default;
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;

    // Waits until this object is signalled (and consumes the signal where the
    // object is auto-resetting). True when signalled, false on time-out.
    bool Wait(std::uint32_t timeoutMs = kInfinite);
    // The same, until a point of the steady clock (sub-millisecond; no rounding).
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);

protected:
    friend int WaitForAny(const std::vector<Waitable*>& objects, std::uint32_t timeoutMs);
    struct WakeBlock;
    // Waits on `count` objects; no deadline waits without limit. Allocates nothing.
    static int WaitOnObjects(Waitable* const* objects, std::size_t count,
                             std::optional<std::chrono::steady_clock::time_point> deadline);

    // Called with mutex_ held: take the signal if it is present.
    virtual bool TryAcquireLocked() = 0;
    // Called with mutex_ held after the state changed: wake every registered waiter.
    void WakeWaitersLocked();

    std::mutex mutex_;

private:
    std::vector<WakeBlock*> waiters_;
};

class Event final : public Waitable {
public:
    // A manual-reset event stays set until Reset; an auto-reset event releases
    // exactly one waiter and resets itself.
    explicit Event(bool manualReset = false, bool initiallySet = false);
    void Set();
    void Reset();
    bool IsSet();

private:
    bool TryAcquireLocked() override;
    const bool manualReset_;
    bool set_;
};

class Semaphore final : public Waitable {
public:
    Semaphore(long initial, long maximum);
    // Adds count; fails (changing nothing) when that would exceed the maximum.
    bool Release(long count = 1);
    long Count();

private:
    bool TryAcquireLocked() override;
    long count_;
    const long maximum_;
};

// Waits until any of the objects is signalled and takes that signal. Returns the
// index of the lowest signalled object, or kWaitTimeout.
int WaitForAny(const std::vector<Waitable*>& objects, std::uint32_t timeoutMs = kInfinite);

}  // namespace platform
