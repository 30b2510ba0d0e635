#pragma once
// The application object of one login cycle: the notify window, the task threads, the
// reconnection table and the item table of tree rows. Created on first access and
// destroyed at every logout.

#include <atomic>
#include <memory>

#include "session/item_table.h"
#include "session/reconnect_supervisor.h"
#include "session/reconnection_table.h"
#include "core/task_threads.h"
#include "platform/message.h"
#include "platform/window_handles.h"

namespace session {

class CAppInteance {
public:
    static constexpr int kWorkers = 20;

    static CAppInteance& Instance();
    static bool Exists();
    // Tears down in order: the task threads (finishing queued tasks), the cameras,
    // the control client, then the tables.
    static void Destroy();

    // For threads that are not part of the login cycle (camera sessions, links): post
    // to the notify window or the task threads when the application object exists,
    // without creating it and without its creation lock, so that they may run while
    // the object is being torn down. False when there is none.
    static bool PostNotifyIfAlive(platform::Message message);
    static bool PostTaskIfAlive(platform::Message message);

    CAppInteance();
    ~CAppInteance();

    platform::WindowHandle NotifyWindow() const { return notifyWindow_; }
    void SetNotifyWindow(platform::WindowHandle window) { notifyWindow_ = window; }
    bool PostNotify(platform::Message message) const;
    std::intptr_t SendNotify(platform::Message message) const;

    // Thread messages for the workers go here.
    platform::ThreadId TaskThreadId() const { return pump_.ThreadId(); }
    bool PostTask(platform::Message message) const;
    core::TaskDispatcher& Dispatcher() { return dispatcher_; }

    // The pump, the reconnection supervisor and the pool (after its queue); posts to
    // the task threads are dropped from then on. Also done by the destructor.
    void StopTaskThreads();

    ReconnectionTable& Reconnection() { return reconnection_; }
    ReconnectSupervisor& Reconnector() { return reconnector_; }
    ItemTable& Items() { return items_; }

private:
    std::atomic<platform::WindowHandle> notifyWindow_{0};
    ItemTable items_;
    ReconnectionTable reconnection_;
    // Declared so that the dispatcher outlives the pool and the pool outlives the pump.
    core::TaskDispatcher dispatcher_;
    core::WorkerPool pool_{kWorkers};
    core::TaskPump pump_{pool_, dispatcher_};
    // Stopped after the pump, before the pool.
    ReconnectSupervisor reconnector_;
};

}  // namespace session
