#include "core/task_threads.h"

#include <memory>
#include <mutex>

#include "core/log_file.h"
#include "platform/thread_messages.h"

namespace core {

bool TaskDispatcher::Register(std::uint32_t message, Handler handler) {
    std::unique_lock lock(mutex_);
    if (!handlers_.emplace(message, std::move(handler)).second) {
        LogWrite("task %u has a handler already; the second one is refused", message);
        return false;
    }
    return true;
}

void TaskDispatcher::Unregister(std::uint32_t message) {
    std::unique_lock lock(mutex_);
    handlers_.erase(message);
}

bool TaskDispatcher::Dispatch(platform::Message& message) const {
    Handler handler;
    {
        std::shared_lock lock(mutex_);
        auto it = handlers_.find(message.id);
        if (it == handlers_.end()) return false;
        handler = it->second;
    }
    handler(message);
    return true;
}

void TaskDispatcher::SetOrderKey(std::uint32_t message, OrderKey key) {
    std::unique_lock lock(mutex_);
    orderKeys_[message] = std::move(key);
}

std::optional<TaskDispatcher::Turn> TaskDispatcher::TakeTurn(const platform::Message& message) {
    std::optional<std::int64_t> key;
    {
        std::shared_lock lock(mutex_);
        auto it = orderKeys_.find(message.id);
        if (it == orderKeys_.end() || !it->second) return std::nullopt;
        key = it->second(message);
    }
    if (!key) return std::nullopt;
    std::lock_guard lock(orderMutex_);
    return Turn{*key, orders_[*key].nextTicket++};
}

bool TaskDispatcher::DispatchInTurn(platform::Message& message, const std::optional<Turn>& turn) const {
    if (!turn) return Dispatch(message);
    {
        // The pool runs tasks in the order they were queued, so the task holding the
        // key's current ticket is already running: waiting here cannot starve it.
        std::unique_lock lock(orderMutex_);
        turnChanged_.wait(lock, [&] { return orders_[turn->key].serving == turn->ticket; });
    }
    struct PassOn {
        const TaskDispatcher& self;
        const Turn& turn;
        ~PassOn() {
            std::lock_guard lock(self.orderMutex_);
            KeyOrder& order = self.orders_[turn.key];
            ++order.serving;
            if (order.serving == order.nextTicket) self.orders_.erase(turn.key);  // nothing waits on this key
            self.turnChanged_.notify_all();
        }
    } passOn{*this, *turn};
    return Dispatch(message);
}

TaskPump::TaskPump(WorkerPool& pool, TaskDispatcher& dispatcher) : pool_(pool), dispatcher_(dispatcher) {}

TaskPump::~TaskPump() { Stop(); }

bool TaskPump::Start() {
    return thread_.Start([this](ThreadWrapper& self) { Run(self); }) == 1;
}

void TaskPump::Stop() { thread_.Stop(); }

void TaskPump::Run(ThreadWrapper& self) {
    // Wakes as soon as a message arrives, and at least every 10 ms to see the stop.
    while (!self.WaitForStop(0)) {
        platform::Message message;
        if (!platform::WaitThreadMessage(message, 10)) continue;
        self.Beat();
        auto task = std::make_shared<platform::Message>(std::move(message));
        const std::optional<TaskDispatcher::Turn> turn = dispatcher_.TakeTurn(*task);
        const TaskDispatcher* dispatcher = &dispatcher_;
        pool_.Queue([dispatcher, task, turn] { dispatcher->DispatchInTurn(*task, turn); });
    }
}

}  // namespace core
