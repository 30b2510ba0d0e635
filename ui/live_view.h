#pragma once
// Live viewing from the main window: opening and closing cameras from the camera tree,
// the cell toolbar and the layout buttons; the results of the open task shown in the
// cells; listening, recording and talk requests; renewal of a lapsed camera on
// double-click; and the pan-tilt-zoom buttons. Everything runs on the user-interface
// thread; blocking work goes to the task threads as thread messages.
//
// The main window owns one CLiveView and hands it its tree notifications, clicks,
// "buttondown"s, window messages and timers (HandleNotify, HandlePanTilt,
// HandleMessage); each returns true when the event was the live view's.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "control/control_types.h"
#include "platform/message.h"
#include "platform/window_handles.h"
#include "ui/live_rules.h"
#include "ui/toolkit/paint_manager.h"

namespace media {
class CCamera;
}
namespace wall {
class CVideoPanelMng;
}

namespace ui {

class CCameraTrees;
class TreeNode;

// Window messages of the live view (senders: the task threads, camera sessions and
// the cell toolbar).
namespace live_msg {
inline constexpr std::uint32_t kListenStarted = 1003;  // payload id, lParam success
inline constexpr std::uint32_t kListenStopped = 1004;
inline constexpr std::uint32_t kCellResult = 1030;     // wParam cell, lParam code
inline constexpr std::uint32_t kCellNotice = 1042;     // wParam cell, lParam code
inline constexpr std::uint32_t kOpenInCell = 1043;     // payload id, lParam cell
inline constexpr std::uint32_t kCloseCamera = 1044;    // payload id
inline constexpr std::uint32_t kListenOn = 1049, kListenOff = 1050;
inline constexpr std::uint32_t kRecordOn = 1051, kRecordOff = 1052;
inline constexpr std::uint32_t kRecordStarted = 1053, kRecordStopped = 1054;
inline constexpr std::uint32_t kTalkOn = 1055, kTalkOff = 1056;
inline constexpr std::uint32_t kTalkState = 1058;      // payload id, lParam talking
inline constexpr std::uint32_t kTalkEnded = 1059;      // payload id
inline constexpr std::uint32_t kAddressFetched = 1060; // payload ForwardingAddressNotice
}  // namespace live_msg

struct LiveViewEnvironment {
    // Thread messages to the task pump; false when they could not be posted.
    std::function<bool(platform::Message)> postTask;
    // A notice through the message box: the text and its second line (or caption).
    std::function<void(const std::string& text, const std::string& second)> notice;
    // Runs the renewal dialog for a lapsed camera: the reply values when it ended with
    // 17, nothing when the user left it.
    std::function<std::optional<RenewalReply>(const std::string& cameraId, const std::string& name)> renew;
    // The forwarding address with node id (msgType 50), waited for up to 10 s.
    std::function<control::TransportAddress(const std::string& cameraId)> talkAddress;
    // The camera session of a cell, or nullptr when the cell has none.
    std::function<std::shared_ptr<media::CCamera>(int cell)> cameraOfCell;
    // "sxt_alarm": the alarm search window of a camera, when alarms are enabled.
    std::function<bool()> alarmsEnabled;
    std::function<void(const std::string& cameraId)> searchAlarms;
    // The cell-text timers (timer 100 + cell); their ticks come back through OnTimer.
    std::function<void(std::uintptr_t id, unsigned ms)> setTimer;
    std::function<void(std::uintptr_t id)> killTimer;
    unsigned cellTextMs = kCellTextMs;

    // The program's: task pump, message box, renewal dialog and control client over
    // `mainWindow`, timers of its paint manager.
    static LiveViewEnvironment Application(platform::WindowHandle mainWindow, CPaintManagerUI& manager);
};

class CLiveView {
public:
    CLiveView(CCameraTrees& trees, LiveViewEnvironment environment);

    void SetWall(wall::CVideoPanelMng* wall) { wall_ = wall; }
    wall::CVideoPanelMng* Wall() const { return wall_; }

    // The commands.
    void OpenWithChecks(TreeNode* node);
    void OpenCamera(TreeNode* node, int cell);
    void OpenNode(TreeNode* node);
    void CloseCamera(TreeNode* node);
    void CloseNode(TreeNode* node);
    void CloseById(const std::string& cameraId);
    void StartAll();
    void CloseAll();

    // Tree notifications ("itemdbclick", "sxt_start", "node_start", "node_close",
    // "sxt_alarm"), and clicks of "start_all", "close_all", the layout buttons,
    // "FullSreen" and "SelFullScreen".
    bool HandleNotify(TNotifyUI& msg);
    // "buttondown" on a pan-tilt-zoom button sends its code to the selected cell's
    // camera; the end of that press ("buttonup" wherever the pointer was released,
    // or the "click" of a release over the button) sends the stop to the same camera,
    // once. True when a code was sent.
    bool HandlePanTilt(TNotifyUI& msg);
    bool PanTilt(const std::string& button, bool buttonDown);
    // Stops the camera a held button moves (the window lost the mouse); false when
    // none moves.
    bool ReleasePanTilt();
    // The window messages listed in live_msg; true when handled.
    bool HandleMessage(platform::Message& msg);
    // Timer ticks; true for the cell-text timers.
    bool OnTimer(std::uintptr_t id);

    // The open task's results: 1030 (failed or closed) and 1042 (-6 reconnecting, -4
    // the reconnection given up). `cameraId`, when given, is the camera the notice is
    // about: a notice about another camera than the cell shows now is stale.
    void OnCellResult(int cell, int code, const std::string& cameraId = {});
    void OnCellNotice(int cell, int code, const std::string& cameraId = {});
    // 1055: asks for the talk address and posts the talk request, one talkback at a time.
    void TalkOn(const std::string& cameraId);
    // 1003 / 1004: the listening mark follows a start that succeeded (`result` 1) and a
    // stop that did (non-zero). A refused start leaves the mark off and says why (no
    // output device, or that the sound could not be turned on); the strip follows.
    void OnListenResult(const std::string& cameraId, bool start, std::intptr_t result);
    // 1059: the talkback did not start: the mark goes off and the user hears why
    // (`why` core::kNoMicrophone, or any other refusal).
    void OnTalkRefused(const std::string& cameraId, std::intptr_t why);

    bool TalkActive() const { return talkActive_; }
    // The window that follows the talk state itself tells the live view.
    void SetTalkActive(bool active) { talkActive_ = active; }

private:
    control::ItemPtr ItemOf(TreeNode* node) const;
    control::ItemPtr CameraById(const std::string& id) const;
    void SetIcons(const std::string& cameraId, bool live);
    // A notice that `expires` goes after ten seconds; a reason stays until the cell
    // shows another camera or is closed.
    void ShowCellText(int cell, const std::string& text, bool expires);
    void ClearCellText(int cell);
    // The row the cell shows, when the notice is about it.
    control::ItemPtr ShownFor(int cell, const std::string& cameraId) const;
    void PostIdTask(std::uint32_t message, const std::string& cameraId);
    void PostClose(int cell);
    void Renewed(TreeNode* node, const control::ItemPtr& item, const RenewalReply& reply);
    // `postClose` false: the cell's next open task closes the session itself.
    void CloseCameraIn(TreeNode* node, bool postClose);
    void CloseByIdIn(const std::string& cameraId, bool postClose);

    CCameraTrees& trees_;
    LiveViewEnvironment environment_;
    wall::CVideoPanelMng* wall_ = nullptr;
    bool talkActive_ = false;
    // The camera a pressed pan-tilt-zoom button set moving, until its stop is sent.
    std::weak_ptr<media::CCamera> panTiltCamera_;
    bool panTiltHeld_ = false;
};

}  // namespace ui
