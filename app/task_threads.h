#pragma once
// Blocking work never runs on the user-interface thread: it posts a thread message to
// the task pump, the pump queues it on the worker pool, and a worker runs the
// handler registered for the message number. Handlers report back with window
// messages.

#include <cstdint>
#include <functional>
#include <shared_mutex>
#include <unordered_map>

#include "app/thread_wrapper.h"
#include "app/worker_pool.h"
#include "platform/message.h"

namespace app {

class TaskDispatcher {
public:
    using Handler = std::function<void(platform::Message&)>;

    void Register(std::uint32_t message, Handler handler);
    void Unregister(std::uint32_t message);
    // Runs the handler of the message's number; a number without one is dropped
    // (its payload is freed with the message).
    bool Dispatch(platform::Message& message) const;

private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<std::uint32_t, Handler> handlers_;
};

class TaskPump {
public:
    TaskPump(WorkerPool& pool, const TaskDispatcher& dispatcher);
    ~TaskPump();

    bool Start();
    void Stop();
    // Where tasks are posted to.
    platform::ThreadId ThreadId() const { return thread_.Id(); }

private:
    void Run(ThreadWrapper& self);

    WorkerPool& pool_;
    const TaskDispatcher& dispatcher_;
    ThreadWrapper thread_;
};

}  // namespace app
