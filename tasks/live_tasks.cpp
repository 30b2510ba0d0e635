#include "tasks/live_tasks.h"

#include "session/app_instance.h"
#include "core/message_ids.h"
#include "control/control_client.h"
#include "media/camera_registry.h"
#include "platform/numbers.h"

namespace tasks {
namespace {

// The camera id rides along, so that the window can tell a notice about the camera the
// cell shows now from a late one about the camera it showed before.
void Notify(const LiveTaskEnvironment& environment, std::uint32_t id, int cell, std::intptr_t code,
            const std::string& cameraId = {}) {
    if (!environment.postNotify) return;
    platform::Message message(id, static_cast<std::uintptr_t>(cell), code);
    if (!cameraId.empty()) message.payload = platform::MakePayload(cameraId);
    environment.postNotify(std::move(message));
}

void NotifyAddress(const LiveTaskEnvironment& environment, const std::string& cameraId, const std::string& ip, int port) {
    if (environment.postNotify)
        environment.postNotify(platform::Message(core::kForwardingAddressFetched, 0, 0,
                                                 platform::MakePayload(core::ForwardingAddressNotice{cameraId, ip, port})));
}

}  // namespace

void HandleOpenCamera(platform::Message& message, session::ReconnectionTable& table, const LiveTaskEnvironment& environment) {
    auto* request = platform::PayloadAs<core::OpenRequest>(message);
    if (!request || request->cell < 0) return;
    core::OpenRequest& open = *request;

    {
        auto lock = table.Lock();
        auto& entries = table.EntriesLocked();
        auto it = entries.find(open.cell);
        const bool waiting = it != entries.end() && it->second == open.cameraId;
        // A reconnection whose cell was closed, moved or given another camera since
        // it was queued would open a camera nobody shows.
        if (open.reconnect && !waiting) return;
        // Another camera in this cell ends the cell's pending reconnection.
        if (it != entries.end() && !waiting) entries.erase(it);
    }

    auto camera = media::CameraRegistry::Instance().GetOrCreate(open.cell);
    if (camera->IsOpen()) camera->Close();

    bool fetched = open.reconnect;  // the supervisor asked for this address just now
    if (open.ip.empty() || open.port < 1) {
        control::TransportAddress reply;
        if (environment.requestAddress && !open.cameraId.empty()) reply = environment.requestAddress(open.cameraId);
        open.ip = reply.forwardingIp;
        open.port = platform::ParsePort(reply.forwardingPort);
        fetched = true;
    }
    // Before the result, so that the row holds the address when the window hears of it.
    auto announceAddress = [&] {
        if (fetched && !open.cameraId.empty() && !open.ip.empty() && open.port > 0)
            NotifyAddress(environment, open.cameraId, open.ip, open.port);
    };

    const std::string password = environment.password ? environment.password() : std::string();
    const int result = camera->Open(open.cameraId, open.ip, open.port, open.window, password);
    if (result == 1) {
        announceAddress();
        table.Remove(open.cell, open.cameraId);
        return;
    }
    if (!open.reconnect) announceAddress();
    // An unreachable or silent forwarding server is worth retrying with a new address.
    // The cell keeps its camera meanwhile: the window shows it as reconnecting, not as
    // closed, so the cell is not taken as free and the camera not opened twice.
    if ((result == -4 || result == -8) && !open.cameraId.empty()) {
        table.Add(open.cell, open.cameraId);
        // The address that did not answer is forgotten: a later open asks anew.
        if (result == -8) NotifyAddress(environment, open.cameraId, "", 0);
        Notify(environment, core::kAppNotify, open.cell, core::kReconnecting, open.cameraId);
        return;
    }
    // Any other failure is final: the cell stops waiting.
    table.Remove(open.cell, open.cameraId);
    Notify(environment, core::kAppNotify, open.cell, result, open.cameraId);
    Notify(environment, core::kCellResult, open.cell, result, open.cameraId);
}

void HandleCloseCell(platform::Message& message, session::ReconnectionTable& table, const LiveTaskEnvironment& environment) {
    const int cell = static_cast<int>(message.wParam);
    if (message.lParam == 1) {
        // The ten-second rule of the camera named: when the cell shows another camera
        // by now (opened after the rule fired), the close is stale and changes nothing.
        const auto* named = platform::PayloadAs<std::string>(message);
        const std::string cameraId = named ? *named : std::string();
        if (!cameraId.empty()) {
            auto camera = media::CameraRegistry::Exists() ? media::CameraRegistry::Instance().Find(cell) : nullptr;
            if (!camera || camera->CameraId() != cameraId) return;
        }
        Notify(environment, core::kAppNotify, cell, core::kCellClosed, cameraId);
        Notify(environment, core::kCellResult, cell, core::kNoPictureClosed, cameraId);
    }
    table.Remove(cell);
    if (auto camera = media::CameraRegistry::Instance().GetOrCreate(cell)) camera->Close();
}

void HandleLiveStreamStopped(platform::Message& message, session::ReconnectionTable& table,
                             const LiveTaskEnvironment& environment) {
    const int cell = static_cast<int>(message.wParam);
    const auto* cameraId = platform::PayloadAs<std::string>(message);
    if (!cameraId || cameraId->empty() || !media::CameraRegistry::Exists()) return;
    // Runs in order with the cell's opens and closes: a close or another camera posted
    // before it has already changed the cell, and then the stop is stale.
    auto camera = media::CameraRegistry::Instance().Find(cell);
    if (!camera || camera->CameraId() != *cameraId) return;
    camera->EndStreamKeepingCell();
    table.Add(cell, *cameraId);
    Notify(environment, core::kAppNotify, cell, core::kReconnecting, *cameraId);
}

LiveTaskEnvironment ApplicationLiveTaskEnvironment(session::CAppInteance& application) {
    LiveTaskEnvironment environment;
    environment.requestAddress = [](const std::string& cameraId) {
        const auto client = control::ControlClient::Current();  // held while the request waits
        return client ? client->RequestForwardingAddress(cameraId) : control::TransportAddress{};
    };
    environment.postNotify = [&application](platform::Message m) { return application.PostNotify(std::move(m)); };
    environment.password = [] { return std::string(); };
    return environment;
}

void RegisterLiveTasks(session::CAppInteance& application) {
    session::ReconnectionTable& table = application.Reconnection();
    const LiveTaskEnvironment environment = ApplicationLiveTaskEnvironment(application);
    application.Dispatcher().Register(core::kTaskOpenCamera, [&table, environment](platform::Message& m) {
        HandleOpenCamera(m, table, environment);
    });
    application.Dispatcher().Register(core::kTaskCloseCell, [&table, environment](platform::Message& m) {
        HandleCloseCell(m, table, environment);
    });
    application.Dispatcher().Register(core::kTaskLiveStreamStopped, [&table, environment](platform::Message& m) {
        HandleLiveStreamStopped(m, table, environment);
    });
    // Opens, closes and stops of one cell run in the order they were posted.
    application.Dispatcher().SetOrderKey(core::kTaskOpenCamera, [](const platform::Message& m) -> std::optional<std::int64_t> {
        if (const auto* request = platform::PayloadAs<core::OpenRequest>(m)) return request->cell;
        return std::nullopt;
    });
    application.Dispatcher().SetOrderKey(core::kTaskCloseCell, [](const platform::Message& m) -> std::optional<std::int64_t> {
        return static_cast<std::int64_t>(m.wParam);
    });
    application.Dispatcher().SetOrderKey(core::kTaskLiveStreamStopped,
                                         [](const platform::Message& m) -> std::optional<std::int64_t> {
                                             return static_cast<std::int64_t>(m.wParam);
                                         });
}

}  // namespace tasks
