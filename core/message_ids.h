#pragma once
// Window and thread message numbers shared between the application's threads.

#include <cstdint>
#include <string>

namespace core {

// Login progress and cell notices to the notify window.
constexpr std::uint32_t kAppNotify = 1042;  // WM_APP_NOTIFY

// Login progress values (wParam of kAppNotify during the login sequence).
constexpr std::uintptr_t kLoginSucceeded = 0;
constexpr std::uintptr_t kLoginFailed = 1;

// Thread messages to the task pump, and the results they post back.
constexpr std::uint32_t kTaskStartListen = 1003;
constexpr std::uint32_t kTaskStopListen = 1004;
constexpr std::uint32_t kTaskOpenCamera = 1028;
constexpr std::uint32_t kTaskCloseCell = 1029;
constexpr std::uint32_t kCellResult = 1030;
constexpr std::uint32_t kTaskStopListenCell = 1031;
constexpr std::uint32_t kTaskRemotePlaybackStart = 1032;
constexpr std::uint32_t kTaskRemotePlaybackCommand = 1033;
constexpr std::uint32_t kTaskAlarmSearch = 1036;
constexpr std::uint32_t kTaskSetVideoParameters = 1039;
constexpr std::uint32_t kTaskGetVideoParameters = 1040;
constexpr std::uint32_t kTaskRefreshList = 1045;
constexpr std::uint32_t kTaskRemoteSearch = 1047;
constexpr std::uint32_t kTaskStartRecord = 1051;
constexpr std::uint32_t kTaskStopRecord = 1052;
constexpr std::uint32_t kTaskStopTalk = 1056;
constexpr std::uint32_t kTaskStartTalk = 1057;
constexpr std::uint32_t kForwardingAddressFetched = 1060;
// The forwarding server stopped a live camera's stream ("stop"): wParam the cell, the
// camera id as an owned std::string payload. Ours; it has no number in the original
// message set, so it takes one above every number used there.
constexpr std::uint32_t kTaskLiveStreamStopped = 1100;

// Camera sessions to the main window and to the window a replay reports to.
constexpr std::uint32_t kListenStarted = 1003;       // payload: the camera id; lParam: started
constexpr std::uint32_t kListenStopped = 1004;       // payload: the camera id; lParam 1
constexpr std::uint32_t kListenStoppedCell = 1050;   // wParam: the cell index; lParam 1
constexpr std::uint32_t kRecordStarted = 1053;       // payload: the camera id; lParam: started
constexpr std::uint32_t kReplayPosition = 1034;      // payload: ReplayPositionNotice
constexpr std::uint32_t kReplayEnded = 1048;         // wParam: the cell index
constexpr std::uint32_t kRecordStopped = 1054;       // payload: the recording text; lParam 1
constexpr std::uint32_t kTalkStateChanged = 1058;    // payload: the camera id; lParam: talking
constexpr std::uint32_t kTalkRefused = 1059;         // payload: the camera id; lParam: why
// lParam of kListenStarted (instead of 0) and of kTalkRefused when there is no device
// to play or capture the sound with: the window tells the user. Other refusals are 0.
constexpr std::int32_t kNoAudioOutput = -1;
constexpr std::int32_t kNoMicrophone = -2;
constexpr std::int32_t kReconnecting = -6;           // lParam of kAppNotify: the link was lost

// The record of kForwardingAddressFetched: a forwarding address the control server named.
struct ForwardingAddressNotice {
    std::string cameraId;
    std::string ip;
    int port = 0;
};

// The record of kReplayPosition: the local time of the picture just decoded.
struct ReplayPositionNotice {
    int cellIndex = 0;
    int reserved = 0;
    std::string text;
};

}  // namespace core

namespace core {

// The record of kTaskOpenCamera: open a camera in a video cell. An empty IP or a port
// below 1 asks the control server for the forwarding address first.
struct OpenRequest {
    int cell = 0;
    std::uint64_t window = 0;  // the cell's display window handle
    std::string cameraId;
    std::string ip;
    int port = 0;
    // Queued by the reconnection supervisor: it goes ahead only while the cell still
    // waits in the reconnection table for this camera (the user may have closed the
    // cell or opened another camera in it since).
    bool reconnect = false;
};

// The record of kTaskStartTalk: the camera and the reply of the forwarding-address
// request with node id.
struct TalkRequest {
    std::string cameraId;
    std::string nodeId;
    std::string ip;
    int port = 0;
    std::string keyword;
};

constexpr std::int32_t kConnectionFailed = -4;  // lParam of kAppNotify: the cell was given up
constexpr std::int32_t kCellClosed = -5;        // lParam of kAppNotify: the cell was closed
// lParam of kCellResult: the camera was closed after ten seconds without a picture
// (the cell's close task with lParam 1, the camera id as payload). Ours: the original
// reported 0 here, which the window could not tell from a close while opening.
constexpr std::int32_t kNoPictureClosed = -10;

}  // namespace core
