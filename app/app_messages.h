#pragma once
// Window and thread message numbers shared between the application's threads.

#include <cstdint>

namespace app {

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

}  // namespace app
