#pragma once
// Retries the video cells of the reconnection table every ten seconds: asks the
// control server for each camera's forwarding address again and, when one is given,
// queues an open request for the cell (marked as a reconnection, so that it lapses
// when the cell stops waiting); a camera without a usable address is dropped from the
// table and the notify window is told (1042, -4, the camera id as payload), which ends
// the camera there. A request that got no answer leaves the entry for the next pass.
//
// The table's lock is held only to copy it and to re-check an entry: the address
// requests (up to ten seconds each) run outside it, so a drag on the user-interface
// thread (Move) never waits for a pass. An entry that changed meanwhile is left alone.

#include <cstdint>
#include <functional>
#include <string>

#include "session/reconnection_table.h"
#include "core/thread_wrapper.h"
#include "control/control_types.h"
#include "platform/message.h"
#include "platform/window_handles.h"

namespace session {

struct SupervisorEnvironment {
    std::function<control::TransportAddress(const std::string& cameraId)> requestAddress;
    // The display window the cell's camera holds (0 when none).
    std::function<platform::WindowHandle(int cell)> cellWindow;
    std::function<bool(platform::Message)> postNotify;
    std::function<bool(platform::Message)> postTask;
    std::uint32_t intervalMs = 10000;
};

class ReconnectSupervisor {
public:
    ReconnectSupervisor(ReconnectionTable& table, SupervisorEnvironment environment);
    ~ReconnectSupervisor();

    bool Start();
    void Stop();
    // One pass now, on the calling thread.
    void RunPass();
    std::uint64_t Passes() const { return passes_; }

private:
    void Run(core::ThreadWrapper& self);

    ReconnectionTable& table_;
    SupervisorEnvironment environment_;
    core::ThreadWrapper thread_;
    std::atomic<std::uint64_t> passes_{0};
};

}  // namespace session
