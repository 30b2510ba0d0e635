#include "platform/thread_messages.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace platform {
namespace {

struct Queue {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Message> messages;
};

class QueueRegistry {
public:
    static QueueRegistry& Get() {
        static QueueRegistry* registry = new QueueRegistry;  // outlives thread-exit hooks
        return *registry;
    }
    std::shared_ptr<Queue> Find(ThreadId id) {
        std::lock_guard lock(mutex_);
        auto it = queues_.find(id);
        return it == queues_.end() ? nullptr : it->second;
    }
    void Add(ThreadId id, std::shared_ptr<Queue> queue) {
        std::lock_guard lock(mutex_);
        queues_[id] = std::move(queue);
    }
    void Remove(ThreadId id) {
        std::shared_ptr<Queue> doomed;  // freed outside the lock: payloads may do work
        std::lock_guard lock(mutex_);
        auto it = queues_.find(id);
        if (it != queues_.end()) {
            doomed = std::move(it->second);
            queues_.erase(it);
        }
    }

private:
    std::mutex mutex_;
    std::unordered_map<ThreadId, std::shared_ptr<Queue>> queues_;
};

std::atomic<ThreadId> g_nextThreadId{1};

struct ThreadState {
    ThreadId id = g_nextThreadId.fetch_add(1);
    std::shared_ptr<Queue> queue;
    ~ThreadState() {
        if (queue) QueueRegistry::Get().Remove(id);
    }
};

ThreadState& State() {
    thread_local ThreadState state;
    return state;
}

Queue& OwnQueue() {
    ThreadState& state = State();
    if (!state.queue) {
        state.queue = std::make_shared<Queue>();
        QueueRegistry::Get().Add(state.id, state.queue);
    }
    return *state.queue;
}

}  // namespace

ThreadId CurrentThreadId() { return State().id; }

void EnsureThreadMessageQueue() { OwnQueue(); }

bool PostThreadMessage(ThreadId thread, Message message) {
    std::shared_ptr<Queue> queue = QueueRegistry::Get().Find(thread);
    if (!queue) return false;  // `message` and its payload are freed here
    {
        std::lock_guard lock(queue->mutex);
        queue->messages.push_back(std::move(message));
    }
    queue->cv.notify_one();
    return true;
}

bool PeekThreadMessage(Message& out) { return WaitThreadMessage(out, 0); }

bool WaitThreadMessage(Message& out, std::uint32_t timeoutMs) {
    Queue& queue = OwnQueue();
    std::unique_lock lock(queue.mutex);
    if (queue.messages.empty() && timeoutMs > 0) {
        queue.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return !queue.messages.empty(); });
    }
    if (queue.messages.empty()) return false;
    out = std::move(queue.messages.front());
    queue.messages.pop_front();
    return true;
}

}  // namespace platform
