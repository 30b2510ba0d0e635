#pragma once
// Control replies on their way to the user-interface thread. The control client's
// notification callback (its reader thread) copies every message into the queue and
// posts 1046 to the main window; on 1046 the window drains the queue, taking one
// record at a time, and hands each to the handler registered for its msgType.
// Records of a type without a handler are dropped. Subsystems that handle replies
// register here when they are built into the main window.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "control/control_message.h"
#include "platform/window_handles.h"

namespace mainwin {

class ReplyQueue : public std::enable_shared_from_this<ReplyQueue> {
public:
    using Handler = std::function<void(const control::ControlMessage&)>;
    using Params = std::map<std::string, std::string>;

    // Where 1046 is posted (0: nowhere; records still queue).
    void SetWindow(platform::WindowHandle window) { window_ = window; }

    // Any thread: queues a copy and posts 1046 with the msgType in wParam.
    void Push(std::int64_t id, int msgType, const Params& params);

    // User-interface thread: runs the handlers of every queued record, in order;
    // returns how many records were taken (handled or dropped). A record pushed while
    // draining is taken in the same run.
    std::size_t Drain();

    void RegisterHandler(int msgType, Handler handler);
    void UnregisterHandler(int msgType);
    bool HasHandler(int msgType) const;
    std::size_t Size() const;

    // The callback for ControlClient::InstallNotificationCallback. It keeps the queue
    // alive, so a reply being delivered while the window goes away finds it still there.
    std::function<void(std::int64_t, int, const Params&, void*)> Callback();

private:
    mutable std::mutex mutex_;
    std::deque<control::ControlMessage> records_;
    std::unordered_map<int, Handler> handlers_;  // user-interface thread only
    std::atomic<platform::WindowHandle> window_{0};
};

}  // namespace mainwin
