#include "session/reconnect_supervisor.h"

#include <cstdlib>

#include "core/message_ids.h"
#include "platform/debug_trace.h"
#include "platform/numbers.h"

namespace session {

ReconnectSupervisor::ReconnectSupervisor(ReconnectionTable& table, SupervisorEnvironment environment)
    : table_(table), environment_(std::move(environment)) {}

ReconnectSupervisor::~ReconnectSupervisor() { Stop(); }

bool ReconnectSupervisor::Start() {
    return thread_.Start([this](core::ThreadWrapper& self) { Run(self); }) == 1;
}

void ReconnectSupervisor::Stop() { thread_.Stop(); }

void ReconnectSupervisor::Run(core::ThreadWrapper& self) {
    while (!self.WaitForStop(environment_.intervalMs)) RunPass();
    platform::DebugTrace("CAppInteance::ReConnectProc Exit!\n");
}

void ReconnectSupervisor::RunPass() {
    // Named copies rather than a structured binding: the notice lambda below captures
    // them, which clang before 16 does not allow for bindings.
    for (const auto& entry : table_.Snapshot()) {
        const int cell = entry.first;
        const std::string& cameraId = entry.second;
        control::TransportAddress reply;
        if (!cameraId.empty() && environment_.requestAddress) reply = environment_.requestAddress(cameraId);
        const bool usable = !cameraId.empty() && (reply.status == 1 || reply.status == -3);
        // No answer at all (the control connection is down or logging in again, as
        // after a restart of the service) says nothing about the camera: ask again on
        // the next pass instead of giving the cell up.
        if (!cameraId.empty() && !reply.answered) continue;

        // The cell may have been moved, reopened or given another camera while the
        // request ran: act only on the entry as it was read.
        {
            auto lock = table_.Lock();
            auto& entries = table_.EntriesLocked();
            auto it = entries.find(cell);
            if (it == entries.end() || it->second != cameraId) continue;
            if (!usable) entries.erase(it);
        }
        // The notices name the camera: the cell may show another one by the time the
        // window reads them.
        auto notice = [&](std::int32_t code) {
            if (environment_.postNotify)
                environment_.postNotify(platform::Message(core::kAppNotify, static_cast<std::uintptr_t>(cell), code,
                                                          platform::MakePayload(cameraId)));
        };
        if (!usable) {
            notice(core::kConnectionFailed);
            continue;
        }
        core::OpenRequest request;
        request.cell = cell;
        request.window = environment_.cellWindow ? environment_.cellWindow(cell) : 0;
        request.cameraId = cameraId;
        request.ip = reply.forwardingIp;
        request.port = platform::ParsePort(reply.forwardingPort);
        request.reconnect = true;
        if (environment_.postTask)
            environment_.postTask(platform::Message(core::kTaskOpenCamera, 0, 0, platform::MakePayload(std::move(request))));
        notice(core::kReconnecting);
    }
    ++passes_;
}

}  // namespace session
