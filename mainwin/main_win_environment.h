#pragma once
// What the main window needs from the rest of the program, as replaceable calls so
// that tests can run the window without a server, task threads or a shell.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "control/control_types.h"
#include "ui/alarm_panel.h"
#include "ui/live_view.h"
#include "platform/message.h"
#include "platform/window_handles.h"
#include "playback/playback_engine.h"
#include "record/recording_settings.h"
#include "wall/video_panel_mng.h"

namespace mainwin {

class ReplyQueue;

struct MainWinEnvironment {
    using Params = std::map<std::string, std::string>;

    // Thread messages to the task threads; false when they could not be posted.
    std::function<bool(platform::Message)> postTask;
    // A control request without waiting for its reply; the request id (0: not sent).
    std::function<std::int32_t(int msgType, const Params&)> sendRequest;
    // The authority list (waits up to ten seconds); false on failure.
    std::function<bool(std::string&)> requestAuthorityList;
    // Points the control client's reply callback at the queue, or away from it (nullptr).
    std::function<void(ReplyQueue*)> installReplyQueue;
    // Makes the window the application's notify window.
    std::function<void(platform::WindowHandle)> setNotifyWindow;
    // The rows of the camera tree.
    std::function<std::vector<control::ItemPtr>()> rows;
    // Opens a web address with the desktop's URL handler; false when none took it.
    std::function<bool(const std::string& url)> openUrl;
    // What the walls ask of the program (screen size, camera registry).
    std::function<wall::WallEnvironment()> wallEnvironment;
    // True when the camera of a live cell has a connected session.
    std::function<bool(int cell)> cellSessionConnected;
    // Bytes received by the stream links since the last call.
    std::function<std::uint64_t()> takeReceivedBytes;
    // Puts saved recording settings in force at once (recorders, sweeper).
    std::function<void(const record::RecordingSettings&)> applyRecordingSettings;
    // The folder picker; empty when cancelled.
    std::function<std::string(const std::string& prompt, const std::string& start)> chooseFolder;
    // Stops the LAN device manager when one exists (window closing).
    std::function<void()> stopDeviceManager;
    // Live viewing and the alarm tab; empty: the program's (control client, camera
    // registry, message box). Task posts always go through postTask above.
    std::function<ui::LiveViewEnvironment(platform::WindowHandle, ui::CPaintManagerUI&)> liveEnvironment;
    std::function<ui::AlarmPanelEnvironment()> alarmPanelEnvironment;
    // The engine that plays local recordings (the program's: Rewind); empty: none.
    std::function<std::shared_ptr<playback::PlaybackEngine>()> playbackEngine;
    // Milliseconds of a steady clock for the playback slider; empty: the system's.
    std::function<std::int64_t()> playbackClockMs;
    // The save-file dialog (title, suggested path, filter); empty when cancelled.
    // Empty function: the desktop's dialog.
    std::function<std::string(const std::string&, const std::string&, const std::string&)> chooseSaveFile;
};

}  // namespace mainwin
