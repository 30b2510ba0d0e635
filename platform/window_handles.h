#pragma once
// Window handles: an opaque number for every window (or headless message sink) that
// other threads can post or send messages to. Messages run on the window's own thread
// through its executor: the user-interface thread for real windows, a LoopExecutor for
// headless sinks. A handle is never reused, so a late message to a closed window is
// dropped (and its payload freed) instead of reaching a stranger.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <thread>

#include "platform/message.h"

namespace platform {

using WindowHandle = std::uint64_t;

// Runs closures on one thread.
class MessageExecutor {
public:
    virtual ~MessageExecutor() = default;
    // Queues `task` for the executor's thread. A task that is destroyed without
    // having run must not be lost silently: its captured state's destructor runs.
    virtual void Post(std::function<void()> task) = 0;
    virtual bool InOwnThread() const = 0;
};

// A closure queue that the owning thread drains itself (headless sinks, tests,
// worker threads that act as windows).
class LoopExecutor final : public MessageExecutor {
public:
    LoopExecutor();  // owned by the constructing thread
    ~LoopExecutor() override;
    void Post(std::function<void()> task) override;
    bool InOwnThread() const override;

    // Runs what is queued now; returns how many closures ran.
    int RunPending();
    // Runs closures as they come until `timeoutMs` has passed or `done` is true.
    void RunUntil(const std::function<bool()>& done, std::uint32_t timeoutMs);
    void BindToCurrentThread();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    std::thread::id owner_;
};

using WindowProc = std::function<std::intptr_t(Message&)>;

WindowHandle CreateWindowHandle(WindowProc proc, std::shared_ptr<MessageExecutor> executor);

// After this returns (on the window's thread) the procedure is never called again.
void DestroyWindowHandle(WindowHandle window);

bool IsWindowHandle(WindowHandle window);

// Queues the message for the window's thread. False when the window does not exist;
// the payload is freed either way once the message is done with.
bool PostWindowMessage(WindowHandle window, Message message);

// Runs the message on the window's thread and waits for its result. Runs directly
// when called on that thread. Returns 0 when the window does not exist or goes away
// before the message ran.
std::intptr_t SendWindowMessage(WindowHandle window, Message message);

}  // namespace platform
