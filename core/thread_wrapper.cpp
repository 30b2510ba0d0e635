#include "core/thread_wrapper.h"

#include <future>
#include <system_error>

#include "platform/tick.h"

namespace core {

ThreadWrapper::~ThreadWrapper() { Stop(); }

int ThreadWrapper::Start(Body body, void* userData) {
    std::lock_guard lock(lock_);
    if (thread_.joinable()) return 0;
    stopEvent_.Reset();
    userData_ = userData;
    startTick_ = platform::TickCount();
    heartbeatTick_ = startTick_.load();
    std::promise<platform::ThreadId> started;
    auto startedFuture = started.get_future();
    try {
        thread_ = std::thread([this, body = std::move(body), &started] {
            platform::EnsureThreadMessageQueue();
            started.set_value(platform::CurrentThreadId());
            body(*this);
        });
    } catch (const std::system_error&) {
        return 0;
    }
    id_ = startedFuture.get();
    return 1;
}

void ThreadWrapper::Stop() {
    std::lock_guard lock(lock_);
    if (!thread_.joinable()) return;
    stopEvent_.Set();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();
    } else {
        thread_.join();
    }
    id_ = 0;
}

bool ThreadWrapper::IsRunning() const {
    std::lock_guard lock(lock_);
    return thread_.joinable();
}

void ThreadWrapper::Beat() { heartbeatTick_ = platform::TickCount(); }

}  // namespace core
