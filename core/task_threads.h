#pragma once
// Blocking work never runs on the user-interface thread: it posts a thread message to
// the task pump, the pump queues it on the worker pool, and a worker runs the
// handler registered for the message number. Handlers report back with window
// messages.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <unordered_map>

#include "core/thread_wrapper.h"
#include "core/worker_pool.h"
#include "platform/message.h"

namespace core {

class TaskDispatcher {
public:
    using Handler = std::function<void(platform::Message&)>;
    // What a task acts on, for tasks that must not overtake each other (a video cell).
    using OrderKey = std::function<std::optional<std::int64_t>(const platform::Message&)>;
    // A task's place in the order of its key, taken when the pump receives it.
    struct Turn {
        std::int64_t key = 0;
        std::uint64_t ticket = 0;
    };

    // False (and logged) when the number has a handler already: two subsystems claiming
    // one number is a wiring fault, and the later one must not silently win.
    bool Register(std::uint32_t message, Handler handler);
    void Unregister(std::uint32_t message);
    // Tasks of these numbers with equal keys run one at a time, in the order they
    // were posted: an open and a close of one cell on two workers could otherwise
    // finish in the wrong order and leave the cell showing another camera. Numbers
    // that share a key space (open and close of a cell) name the same keys.
    void SetOrderKey(std::uint32_t message, OrderKey key);

    // Runs the handler of the message's number; a number without one is dropped
    // (its payload is freed with the message).
    bool Dispatch(platform::Message& message) const;

    // The pump's side of the ordering: the turn of a newly received task (none for
    // unordered ones), and the dispatch that waits for that turn and passes it on.
    std::optional<Turn> TakeTurn(const platform::Message& message);
    bool DispatchInTurn(platform::Message& message, const std::optional<Turn>& turn) const;

private:
    struct KeyOrder {
        std::uint64_t nextTicket = 0;  // handed to the next task received
        std::uint64_t serving = 0;     // the ticket allowed to run
    };

    mutable std::shared_mutex mutex_;
    std::unordered_map<std::uint32_t, Handler> handlers_;
    std::unordered_map<std::uint32_t, OrderKey> orderKeys_;

    mutable std::mutex orderMutex_;
    mutable std::condition_variable turnChanged_;
    mutable std::unordered_map<std::int64_t, KeyOrder> orders_;
};

class TaskPump {
public:
    TaskPump(WorkerPool& pool, TaskDispatcher& dispatcher);
    ~TaskPump();

    bool Start();
    void Stop();
    // Where tasks are posted to.
    platform::ThreadId ThreadId() const { return thread_.Id(); }

private:
    void Run(ThreadWrapper& self);

    WorkerPool& pool_;
    TaskDispatcher& dispatcher_;
    ThreadWrapper thread_;
};

}  // namespace core
