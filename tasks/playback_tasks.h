#pragma once
// The task handlers of remote playback: the search of a camera's recordings on the
// service (1047), the start of one recording in the playback wall's cell (1032) and the
// commands on it (1033). A remote recording plays as a camera in replay mode under the
// cell key 10001: the forwarding server streams it with its recorded times, the camera
// reports each picture's time (1034) and the end of the recording (1048) to the main
// window itself.

#include <functional>
#include <string>

#include "control/control_types.h"
#include "core/message_ids.h"
#include "platform/message.h"
#include "platform/window_handles.h"

namespace session {
class CAppInteance;
}

namespace tasks {

struct PlaybackTaskEnvironment {
    // The remote playback set-up (msgType 6); status -1 when no reply came.
    std::function<control::RemotePlaybackReply(const std::string& cameraId, const std::string& startTime,
                                               const std::string& endTime)>
        requestPlayback;
    // Posts to a window.
    std::function<bool(platform::WindowHandle, platform::Message)> postToWindow;
    // The application's notify window: where answers go when a request names no window.
    std::function<platform::WindowHandle()> notifyWindow;
    // The password sent with the open command.
    std::function<std::string()> password;
};

// The text shown for a set-up status ("成功", "错误", "无数据", ...).
std::string RemoteSearchStatusText(int status);
// The result record of a set-up reply. Only a successful one carries the playback id,
// the forwarding address and the recordings: a failure never lists anything.
core::RemoteSearchResult RemoteSearchResultOf(const std::string& cameraId, const control::RemotePlaybackReply& reply);

void HandleRemoteSearch(platform::Message& message, const PlaybackTaskEnvironment& environment);
void HandleRemotePlaybackStart(platform::Message& message, const PlaybackTaskEnvironment& environment);
void HandleRemotePlaybackCommand(platform::Message& message, const PlaybackTaskEnvironment& environment);

// Registers the three on the application's dispatcher; the start and the commands run
// in posting order with the other tasks of the playback cell.
void RegisterPlaybackTasks(session::CAppInteance& application);
PlaybackTaskEnvironment ApplicationPlaybackTaskEnvironment(session::CAppInteance& application);

}  // namespace tasks
