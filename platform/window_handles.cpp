#include "platform/window_handles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <unordered_map>

namespace platform {
namespace {

// What a queued message needs to run. It does not hold the executor, so a closure
// waiting in an executor's queue never keeps that executor alive.
struct WindowTarget {
    WindowProc proc;
    std::atomic<bool> alive{true};
};

struct WindowEntry {
    std::shared_ptr<WindowTarget> target;
    std::shared_ptr<MessageExecutor> executor;
};

class WindowRegistry {
public:
    static WindowRegistry& Get() {
        static WindowRegistry* registry = new WindowRegistry;
        return *registry;
    }
    WindowHandle Add(std::shared_ptr<WindowEntry> entry) {
        std::lock_guard lock(mutex_);
        WindowHandle handle = next_++;
        windows_[handle] = std::move(entry);
        return handle;
    }
    std::shared_ptr<WindowEntry> Find(WindowHandle handle) {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(handle);
        return it == windows_.end() ? nullptr : it->second;
    }
    std::shared_ptr<WindowEntry> Remove(WindowHandle handle) {
        std::lock_guard lock(mutex_);
        auto it = windows_.find(handle);
        if (it == windows_.end()) return nullptr;
        auto entry = std::move(it->second);
        windows_.erase(it);
        return entry;
    }

private:
    std::mutex mutex_;
    WindowHandle next_ = 0x10000;  // small numbers look like cell indices in logs
    std::unordered_map<WindowHandle, std::shared_ptr<WindowEntry>> windows_;
};

// Completes a blocking send exactly once: with the procedure's result when the
// message ran, with 0 when the queued closure was thrown away unrun.
class SendCompletion {
public:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::intptr_t result = 0;
    };
    explicit SendCompletion(std::shared_ptr<State> state) : state_(std::move(state)) {}
    ~SendCompletion() { Finish(0); }
    void Finish(std::intptr_t result) {
        std::lock_guard lock(state_->mutex);
        if (state_->done) return;
        state_->done = true;
        state_->result = result;
        state_->cv.notify_all();
    }

private:
    std::shared_ptr<State> state_;
};

}  // namespace

LoopExecutor::LoopExecutor() : owner_(std::this_thread::get_id()) {}

LoopExecutor::~LoopExecutor() {
    std::deque<std::function<void()>> doomed;
    {
        std::lock_guard lock(mutex_);
        doomed.swap(tasks_);
    }
}

void LoopExecutor::Post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    cv_.notify_all();
}

bool LoopExecutor::InOwnThread() const { return std::this_thread::get_id() == owner_; }

void LoopExecutor::BindToCurrentThread() { owner_ = std::this_thread::get_id(); }

int LoopExecutor::RunPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(tasks_);
    }
    int ran = 0;
    for (auto& task : batch) {
        task();
        ++ran;
    }
    return ran;
}

void LoopExecutor::RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    // `done` may turn true on another thread, so look at it again every few ms.
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        {
            std::unique_lock lock(mutex_);
            auto slice = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
            cv_.wait_until(lock, slice, [&] { return !tasks_.empty(); });
        }
        RunPending();
    }
}

WindowHandle CreateWindowHandle(WindowProc proc, std::shared_ptr<MessageExecutor> executor) {
    auto entry = std::make_shared<WindowEntry>();
    entry->target = std::make_shared<WindowTarget>();
    entry->target->proc = std::move(proc);
    entry->executor = std::move(executor);
    return WindowRegistry::Get().Add(std::move(entry));
}

void DestroyWindowHandle(WindowHandle window) {
    if (auto entry = WindowRegistry::Get().Remove(window)) entry->target->alive = false;
}

bool IsWindowHandle(WindowHandle window) { return WindowRegistry::Get().Find(window) != nullptr; }

bool PostWindowMessage(WindowHandle window, Message message) {
    std::shared_ptr<WindowEntry> entry = WindowRegistry::Get().Find(window);
    if (!entry) return false;
    auto shared = std::make_shared<Message>(std::move(message));
    entry->executor->Post([target = entry->target, shared] {
        if (target->alive) target->proc(*shared);
    });
    return true;
}

std::intptr_t SendWindowMessage(WindowHandle window, Message message) {
    std::shared_ptr<WindowEntry> entry = WindowRegistry::Get().Find(window);
    if (!entry) return 0;
    auto target = entry->target;
    if (entry->executor->InOwnThread()) return target->alive ? target->proc(message) : 0;

    auto state = std::make_shared<SendCompletion::State>();
    auto completion = std::make_shared<SendCompletion>(state);
    auto shared = std::make_shared<Message>(std::move(message));
    entry->executor->Post([target, shared, completion] {
        completion->Finish(target->alive ? target->proc(*shared) : 0);
    });
    entry.reset();
    completion.reset();  // from now on only the queued closure keeps it
    std::unique_lock lock(state->mutex);
    state->cv.wait(lock, [&] { return state->done; });
    return state->result;
}

}  // namespace platform
