#pragma once
// A thread with a stop event, a start tick and a heartbeat tick: the task pump, the
// control client's keep-alive and the login thread run in one.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/sync.h"
#include "platform/thread_messages.h"

namespace core {

class ThreadWrapper {
public:
    using Body = std::function<void(ThreadWrapper&)>;

    ThreadWrapper() = default;
    ~ThreadWrapper();
    ThreadWrapper(const ThreadWrapper&) = delete;
    ThreadWrapper& operator=(const ThreadWrapper&) = delete;

    // 1 when the thread runs (its message queue exists by then), 0 on failure or
    // when it already runs.
    int Start(Body body, void* userData = nullptr);
    // Sets the stop event and waits for the thread to end. From the thread itself it
    // only asks it to stop.
    void Stop();
    bool IsRunning() const;

    // For the body: waits up to timeoutMs for the stop request.
    bool WaitForStop(std::uint32_t timeoutMs) { return stopEvent_.Wait(timeoutMs); }
    bool WaitForStopUntil(std::chrono::steady_clock::time_point deadline) { return stopEvent_.WaitUntil(deadline); }
    platform::Event& StopEvent() { return stopEvent_; }

    platform::ThreadId Id() const { return id_; }
    std::uint32_t StartTick() const { return startTick_; }
    std::uint32_t HeartbeatTick() const { return heartbeatTick_; }
    void Beat();
    void* UserData() const { return userData_; }

private:
    mutable std::mutex lock_;  // around start and stop
    platform::Event stopEvent_{false, false};
    std::thread thread_;
    std::atomic<platform::ThreadId> id_{0};
    std::atomic<std::uint32_t> startTick_{0};
    std::atomic<std::uint32_t> heartbeatTick_{0};
    void* userData_ = nullptr;
};

}  // namespace core
