#pragma once
// The rules of live viewing that need no window: which button moves the camera's
// head how, the texts shown in video cells and after a renewal, which layout a layout
// button asks for, how the alarm list pages through its rows, and where an alarm's
// picture is kept on disk. The main window, the renewal dialog and the alarm windows
// apply them.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ui {

// --- Pan-tilt-zoom ---
inline constexpr int kPanTiltStop = 15;
inline constexpr int kPanTiltSpeed = 3;
// The action code a press of the button sends ("yt_up" 1 … "yt_ZoomOut" 10, any letter
// case); nothing for every other control.
std::optional<int> PanTiltActionCode(std::string_view button);
// The code a notification from the button sends: its action code on "buttondown",
// the stop code on any other notification (the release's click); nothing when the
// control is not one of the ten buttons.
std::optional<int> PanTiltCodeFor(std::string_view button, bool buttonDown);

// --- Video cells ---
inline constexpr int kCellTextTimerBase = 100;  // timer 100 + cell clears the cell's text
inline constexpr unsigned kCellTextMs = 10000;
inline constexpr const char* kNoStreamingServerText = "无流媒体服务器";
inline constexpr const char* kOutsideOpenWindowText = "不在开放时间段内";
inline constexpr const char* kReconnectingText = "重连中,请稍后…";
inline constexpr const char* kUnknownCameraText = "摄像头不存在";
inline constexpr const char* kPlayerFailedText = "无法创建播放器";
inline constexpr const char* kConnectFailedText = "连接转发服务器失败";
inline constexpr const char* kCameraNotOnlineText = "摄像头不在线";
inline constexpr const char* kNoReplyText = "转发服务器无应答";
inline constexpr const char* kCameraLapsedText = "摄像头已欠费";
inline constexpr const char* kNoPictureText = "十秒未收到视频";
inline constexpr const char* kOpenFailedFormat = "打开视频失败(%d)";
inline constexpr const char* kCameraOfflineFormat = "摄像头 %s 不在线！";
inline constexpr const char* kOneTalkbackText = "对不起，语音对讲同时只能开一个！";
inline constexpr const char* kCaptureNotConnectedText = "采集端还未连上！";
inline constexpr const char* kErrorCaption = "错误";
// Listening and talkback that could not start, and why.
inline constexpr const char* kNoAudioOutputText = "没有音频输出设备";
inline constexpr const char* kNoMicrophoneText = "没有麦克风";
inline constexpr const char* kListenFailedText = "打开声音失败";
inline constexpr const char* kTalkFailedText = "打开对讲失败";
// Why a cell shows no picture after its open failed or its camera was closed without
// the user (1030): every such code has a text, so that no cell stays empty without a
// word; nothing for success (1) and for a close while opening (0, the user's or the
// program's own). The text stays until the cell shows another camera or is closed.
std::optional<std::string> CellTextForOpenResult(int code);
// The cell of a cell-text timer, or nothing for another timer.
std::optional<int> CellOfTextTimer(std::uintptr_t timerId);
// The cell count a layout button ("Win1", "Win4", … "Win64", "Win6", "Win8") asks for.
std::optional<int> LayoutOfButton(std::string_view button);

// Fills a "%s" format with one text (the camera name).
std::string FormatWithName(const char* format, const std::string& name);

// --- Renewal ---
inline constexpr int kRenewalTimerId = 1064;
inline constexpr unsigned kRenewalTickMs = 1000;
inline constexpr int kRenewalLastTick = 10;  // the dialog gives up after the eleventh tick
inline constexpr const char* kRenewalFailedText = "续费失败";

struct RenewalReply {
    int status = 0;  // 0: no reply came (the dialog gave up)
    std::string expire;
    std::string cameraId;
    std::string expiredDate;
    static RenewalReply FromParams(const std::map<std::string, std::string>& params);
};
// The renewal dialog's side of its exchange: the one reply it takes is the first that
// carries its request's id after the request went out. Replies to other dialogs'
// requests, late ones and those before the request are not its own.
class RenewalExchange {
public:
    // The request went out with `requestId` (0: it could not be sent).
    void Sent(std::int32_t requestId) { requestId_ = requestId; }
    // The reply when `id` answers the request, once; nothing otherwise.
    std::optional<RenewalReply> Take(std::int32_t id, const std::map<std::string, std::string>& params);
    bool Answered() const { return answered_; }

private:
    std::int32_t requestId_ = 0;
    bool answered_ = false;
};
// "摄像头 %s 已欠费!", "摄像头 %s 续费中..." and the ticking texts, all of one length.
std::string RenewalArrearsText(const std::string& name);
std::string RenewalStartedText(const std::string& name);
std::string RenewalTickText(const std::string& name, int counter);
// The first line shown when a renewal did not succeed (status other than 1).
std::string RenewalFailureText(int status);

// --- Alarm search ---
inline constexpr std::size_t kAlarmPageRows = 50;
// "%d-%02d-%02d %02d:%02d:%02d"
std::string FormatSearchTime(int year, int month, int day, int hour, int minute, int second);

// How many rows the alarm list shows of those received, fifty at a time.
class AlarmPager {
public:
    enum class LoadStep { kShowMore, kFetchNextPage };
    void Reset() { received_ = shown_ = 0; }
    void Received(std::size_t rows) { received_ += rows; }
    std::size_t ReceivedRows() const { return received_; }
    std::size_t ShownRows() const { return shown_; }
    // Shows up to one page more; returns the number of rows that became visible.
    std::size_t ShowPage();
    // What "load more" does now: show more rows, or, with every row shown, ask the
    // service for the rows after the last one.
    LoadStep NextLoadStep() const { return shown_ >= received_ ? LoadStep::kFetchNextPage : LoadStep::kShowMore; }

private:
    std::size_t received_ = 0;
    std::size_t shown_ = 0;
};

// The status code of an HTTP status line ("HTTP/1.0 200 OK" → 200), 0 when the
// header does not start with one.
int HttpStatusOf(const std::string& responseHeader);

// The local file an alarm picture is cached in: a digest of the URL under `folder`,
// keeping a short picture extension of the URL (".jpg" otherwise).
std::string AlarmPictureCacheFile(const std::string& folder, const std::string& url);

// The GET the alarm picture download sends for a picture URL of the service: the host
// (lower case) and port to connect to, and the request text. Nothing for a URL it
// cannot use: not HTTP, no host, no port in 1-65535, a path that does not start with
// "/". The path's blanks and control characters go percent-encoded, so nothing in the
// URL can end the request line or add a header.
struct PictureRequest {
    std::string host;
    int port = 0;
    std::string text;
};
std::optional<PictureRequest> AlarmPictureRequest(const std::string& url);

}  // namespace ui
