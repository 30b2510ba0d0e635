#pragma once
// Every message number of the program. Two kinds of queue carry them: thread messages
// to the task threads (core/task_threads.h) and window messages to a window (most to the
// main window, which is also the notify window of the task threads and the camera
// sessions). A number may mean one thing on its way to the task threads and another on
// the way back to a window; each meaning has its own name, which says the direction.
// Ids and records travel as owned payloads (platform::MakePayload), freed with their
// message whatever its receiver does with it.

#include <cstdint>
#include <string>

namespace core {

// --- Window plumbing ---------------------------------------------------------------
constexpr std::uint32_t kWindowMoved = 3;    // the main window moved: the cell toolbar follows
constexpr std::uint32_t kCellHover = 102;    // the wall to the main window: wParam the cell under the mouse
// A toolkit timer ticked: wParam the timer id, lParam the control that set it (0: the
// window itself).
constexpr std::uint32_t kWmTimer = 275;
// To a video cell's own window, from the decoding thread.
constexpr std::uint32_t kVideoPresent = 0x8001;  // show the attached surface
constexpr std::uint32_t kVideoErase = 0x8002;    // paint the background

// --- Thread messages to the task threads -------------------------------------------
// Payload "id": the camera id as an owned std::string.
constexpr std::uint32_t kTaskStartListen = 1003;            // payload id; answered by kListenStarted
constexpr std::uint32_t kTaskStopListen = 1004;             // payload id; answered by kListenStopped
constexpr std::uint32_t kTaskOpenCamera = 1028;             // payload OpenRequest; answered by kCellResult
// wParam the cell; lParam 1 and payload id: closed for want of a picture (kNoPictureClosed).
constexpr std::uint32_t kTaskCloseCell = 1029;
constexpr std::uint32_t kTaskStopListenCell = 1031;         // wParam the cell; answered by kListenStoppedCell
constexpr std::uint32_t kTaskRemotePlaybackStart = 1032;    // payload PlaybackRecord; answered by kRemotePlaybackStarted
constexpr std::uint32_t kTaskRemotePlaybackCommand = 1033;  // payload RemoteCommand
constexpr std::uint32_t kTaskAlarmSearch = 1036;            // payload tasks::AlarmSearchRequest; answered by kAlarmBatch
constexpr std::uint32_t kTaskWriteVideoParameters = 1039;   // payload tasks::VideoParamRecord
constexpr std::uint32_t kTaskReadVideoParameters = 1040;    // wParam the cell; answered by kVideoParametersRead
constexpr std::uint32_t kTaskRefreshTree = 1045;            // answered by kTreeRefreshed
constexpr std::uint32_t kTaskRemoteSearch = 1047;            // payload RemoteSearchRequest; answered by kRemoteSearchDone
constexpr std::uint32_t kTaskStartRecord = 1051;            // payload id; answered by kRecordStarted
constexpr std::uint32_t kTaskStopRecord = 1052;             // payload id; answered by kRecordStopped
constexpr std::uint32_t kTaskStopTalk = 1056;               // payload id; answered by kTalkStateChanged
constexpr std::uint32_t kTaskStartTalk = 1057;              // payload TalkRequest; answered by 1058 or 1059
// The forwarding server stopped a live camera's stream ("stop"): wParam the cell,
// payload id. Ours; it has no number in the original message set, so it takes one
// above every number used there.
constexpr std::uint32_t kTaskLiveStreamStopped = 1100;

// --- Task results and camera sessions to the main window ---------------------------
constexpr std::uint32_t kListenStarted = 1003;      // payload id; lParam 1 started, else why not (below)
constexpr std::uint32_t kListenStopped = 1004;      // payload id; lParam non-zero: stopped
// wParam the cell; lParam the open result (1 success, negative codes why not), payload
// id when known. lParam kNoPictureClosed: closed after ten seconds without a picture.
constexpr std::uint32_t kCellResult = 1030;
constexpr std::uint32_t kVideoParametersRead = 1040;  // payload tasks::VideoParamRecord
// Login progress (wParam kLoginSucceeded / kLoginFailed, to the login window) and, once
// logged in, cell notices (wParam the cell, lParam kReconnecting / kConnectionFailed /
// kCellClosed, payload id when known).
constexpr std::uint32_t kAppNotify = 1042;  // WM_APP_NOTIFY
constexpr std::uint32_t kTreeRefreshed = 1045;       // wParam 0 on success, 1 on failure
// wParam the cell; lParam 1, no payload. The same number as kListenOffRequest, which
// always carries an id: without one the main window has nothing to act on.
constexpr std::uint32_t kListenStoppedCell = 1050;
constexpr std::uint32_t kRecordStarted = 1053;        // payload id; lParam non-zero: started
constexpr std::uint32_t kRecordStopped = 1054;        // payload id; lParam non-zero: stopped
constexpr std::uint32_t kTalkStateChanged = 1058;     // payload id; lParam non-zero: talking
constexpr std::uint32_t kTalkRefused = 1059;          // payload id; lParam why (kNoMicrophone or 0)
// Payload ForwardingAddressNotice: a forwarding address the control server named, kept
// in the camera's row for the next open.
constexpr std::uint32_t kForwardingAddressFetched = 1060;
// To the window a replay reports to.
constexpr std::uint32_t kReplayPosition = 1034;  // payload ReplayPositionNotice
constexpr std::uint32_t kReplayEnded = 1048;     // wParam the cell
// To the main window: the remote search's answer (payload RemoteSearchResult) and the
// outcome of a remote playback start (payload the PlaybackRecord, result 1 = playing).
constexpr std::uint32_t kRemoteSearchDone = 1047;
constexpr std::uint32_t kRemotePlaybackStarted = 1032;
// Rewind's status callback, posted to the main window unchanged.
constexpr std::uint32_t kLocalPlaybackPosition = 2022;  // lParam the position, seconds since 1970
constexpr std::uint32_t kLocalPlaybackEnded = 2024;

// --- The cell toolbar to the main window (payload id) ------------------------------
constexpr std::uint32_t kOpenCameraRequest = 1043;   // lParam the cell
constexpr std::uint32_t kCloseCameraRequest = 1044;
constexpr std::uint32_t kListenOnRequest = 1049;     // lParam the cell
constexpr std::uint32_t kListenOffRequest = 1050;
constexpr std::uint32_t kRecordOnRequest = 1051;     // lParam the cell
constexpr std::uint32_t kRecordOffRequest = 1052;
constexpr std::uint32_t kTalkOnRequest = 1055;
constexpr std::uint32_t kTalkOffRequest = 1056;

// --- Windows to themselves, from other threads --------------------------------------
constexpr std::uint32_t kAlarmRow = 1035;            // the alarm search window: payload control::AlarmRecord
// The alarm search window: payload control::AlarmSearchResult; lParam 1 on success.
constexpr std::uint32_t kAlarmBatch = 1036;
constexpr std::uint32_t kAlarmPictureReady = 1037;   // the alarm search window: payload ui::AlarmPictureReady
constexpr std::uint32_t kReplyQueued = 1046;         // the main window: wParam the msgType of a queued control reply
constexpr std::uint32_t kAlarmPushed = 1061;         // the alarm panel: payload the pushed alarm
// A control reply for the window that waits for it: lParam 1, payload control::ControlMessage.
constexpr std::uint32_t kControlReply = 1063;

// --- Values carried in wParam / lParam ---------------------------------------------
// wParam of kAppNotify during the login sequence.
constexpr std::uintptr_t kLoginSucceeded = 0;
constexpr std::uintptr_t kLoginFailed = 1;
// lParam of kListenStarted (instead of 1) and of kTalkRefused when there is no device
// to play or capture the sound with: the window tells the user. Other refusals are 0.
constexpr std::int32_t kNoAudioOutput = -1;
constexpr std::int32_t kNoMicrophone = -2;
constexpr std::int32_t kConnectionFailed = -4;  // lParam of kAppNotify: the cell was given up
constexpr std::int32_t kCellClosed = -5;        // lParam of kAppNotify: the cell was closed
constexpr std::int32_t kReconnecting = -6;      // lParam of kAppNotify: the link was lost
// lParam of kCellResult: the camera was closed after ten seconds without a picture
// (the cell's close task with lParam 1, the camera id as payload). Ours: the original
// reported 0 here, which the window could not tell from a close while opening.
constexpr std::int32_t kNoPictureClosed = -10;

// --- Payload records ---------------------------------------------------------------

// kTaskOpenCamera: open a camera in a video cell. An empty IP or a port below 1 asks
// the control server for the forwarding address first.
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

// kTaskStartTalk: the camera and the reply of the forwarding-address request with node id.
struct TalkRequest {
    std::string cameraId;
    std::string nodeId;
    std::string ip;
    int port = 0;
    std::string keyword;
};

// kForwardingAddressFetched: a forwarding address the control server named.
struct ForwardingAddressNotice {
    std::string cameraId;
    std::string ip;
    int port = 0;
};

// kReplayPosition: the local time of the picture just decoded.
struct ReplayPositionNotice {
    int cellIndex = 0;
    int reserved = 0;
    std::string text;
};

// The cell key of the playback wall's one cell (remote playback runs as a camera there).
constexpr int kPlaybackCellKey = 10001;

// kTaskRemoteSearch: the recordings of a camera in a time window ("%04d-%02d-%02d %02d:%02d:%02d").
struct RemoteSearchRequest {
    std::uint64_t mainWindow = 0;
    std::string cameraId;
    int kind = 1;
    std::string startTime;
    std::string endTime;
};

// kRemoteSearchDone: what the service answered. status -1 when no reply came.
struct RemoteSearchResult {
    std::string cameraId;
    int status = -1;
    std::string statusText;  // "成功", "错误", "无数据", ... by status
    std::string playbackId;
    std::string ip;
    int port = 0;
    std::string timeList;  // "start~end;start~end..."
};

// kTaskRemotePlaybackStart and kRemotePlaybackStarted: one recording to play; the main
// window keeps it as the current playback while it plays.
struct PlaybackRecord {
    std::uint64_t mainWindow = 0;
    std::string session;     // filled by the task thread
    std::string playbackId;
    std::string key;         // the list item's name: a file path, or a remote time range
    std::string ip;          // empty for a local recording
    int port = 0;
    int row = -1;            // in the recording list
    int result = 0;          // 1 = playing
    int cellKey = kPlaybackCellKey;
    std::uint64_t cellWindow = 0;
};

// kTaskRemotePlaybackCommand: 0 resume, 1 pause, 2 stop, 3 seek to timeText.
struct RemoteCommand {
    int cellKey = kPlaybackCellKey;
    std::string session;
    std::string playbackId;
    int command = 0;
    std::string timeText;
};

}  // namespace core
