#include "app/task_threads.h"

#include <memory>
#include <mutex>

#include "platform/thread_messages.h"

namespace app {

void TaskDispatcher::Register(std::uint32_t message, Handler handler) {
    std::unique_lock lock(mutex_);
    handlers_[message] = std::move(handler);
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

TaskPump::TaskPump(WorkerPool& pool, const TaskDispatcher& dispatcher) : pool_(pool), dispatcher_(dispatcher) {}

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
        const TaskDispatcher* dispatcher = &dispatcher_;
        pool_.Queue([dispatcher, task] { dispatcher->Dispatch(*task); });
    }
}

}  // namespace app
