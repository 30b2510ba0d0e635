#pragma once
// The task handlers that open a camera in a video cell (1028) and close a cell (1029).
// They run on the task threads and report to the notify window.
//
// A cell enters the reconnection table when its open fails because the forwarding
// server could not be reached (-4) or did not answer (-8): the supervisor then asks
// for a fresh address every ten seconds until an open succeeds or the server names
// none. Such a failure is reported as reconnecting (1042, -6), not as a failed open:
// the cell keeps its camera, which stays live on the window's side until the open
// succeeds, the user closes it, or the supervisor gives it up (1042, -4). Any other
// failure is final (1042 and 1030 with the code) and ends a pending reconnection.
// Every cell notice carries the camera id as payload. A link lost while streaming is
// not recorded: the link's own supervision reopens it after ten seconds. Closing a
// cell or opening another camera in it ends its pending reconnection.

#include <functional>
#include <string>

#include "control/control_types.h"
#include "platform/message.h"

namespace session {
class CAppInteance;
class ReconnectionTable;
}

namespace tasks {

struct LiveTaskEnvironment {
    std::function<control::TransportAddress(const std::string& cameraId)> requestAddress;
    std::function<bool(platform::Message)> postNotify;
    // The password sent with the open command.
    std::function<std::string()> password;
};

void HandleOpenCamera(platform::Message& message, session::ReconnectionTable& table, const LiveTaskEnvironment& environment);
void HandleCloseCell(platform::Message& message, session::ReconnectionTable& table, const LiveTaskEnvironment& environment);
// The server stopped a live camera's stream: when the cell still shows that camera,
// its session ends (the cell keeps its window) and the cell enters the reconnection
// table, so the supervisor opens it again once the server names an address; the notify
// window hears 1042 (-6) as for a lost link. A replay's "stop" is its end instead and
// never comes here.
void HandleLiveStreamStopped(platform::Message& message, session::ReconnectionTable& table,
                             const LiveTaskEnvironment& environment);

// Registers both on the application's dispatcher, reaching the control client and
// the application's notify window.
void RegisterLiveTasks(session::CAppInteance& application);
LiveTaskEnvironment ApplicationLiveTaskEnvironment(session::CAppInteance& application);

}  // namespace tasks
