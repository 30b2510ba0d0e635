#pragma once
// Live viewing from the main window: opening and closing cameras from the camera tree,
// the cell toolbar and the layout buttons; the results of the open task shown in the
// cells; listening, recording and talk requests; renewal of a lapsed camera on
// double-click; and the pan-tilt-zoom buttons. Everything runs on the user-interface
// thread; blocking work goes to the task threads as thread messages.
//
// The main window owns one CLiveView and hands it its tree notifications, clicks,
// "buttondown"s, and every window message of the live range with the cell-text timers
// (HandleNotify, HandlePanTilt, HandleMessage); each returns true when the event was
// the live view's. The live view keeps the live state the window would otherwise
// have to copy: the camera rows' marks, the cell texts and whether a talkback runs.

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
    // The cell-text timers (timer 100 + cell); their ticks come back to HandleMessage.
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
    // The live range of the main window's messages (core/message_ids.h): the open
    // task's results and cell notices (1030, 1042), the cell toolbar's requests (1043,
    // 1044, 1049-1052, 1055, 1056), the camera sessions' answers (1003, 1004, 1053,
    // 1054, 1058, 1059), forwarding addresses (1060), and the window's timer ticks of
    // the cell texts. True when the message was the live view's.
    bool HandleMessage(platform::Message& msg);

    // Whether a talkback runs (the last 1058 said so); one at a time.
    bool TalkActive() const { return talkActive_; }

private:
    // Timer ticks; true for the cell-text timers.
    bool OnTimer(std::uintptr_t id);
    // The open task's results: 1030 (failed or closed) and 1042 (-6 reconnecting, -4
    // the reconnection given up). `cameraId`, when given, is the camera the notice is
    // about: a notice about another camera than the cell shows now is stale.
    void OnCellResult(int cell, int code, const std::string& cameraId);
    void OnCellNotice(int cell, int code, const std::string& cameraId);
    // 1055: asks for the talk address and posts the talk request, one talkback at a time.
    void TalkOn(const std::string& cameraId);
    // 1003 / 1004: the listening mark follows a start that succeeded (`result` 1) and a
    // stop that did (non-zero). A refused start leaves the mark off and says why (no
    // output device, or that the sound could not be turned on); the strip follows.
    void OnListenResult(const std::string& cameraId, bool start, std::intptr_t result);
    // 1053 / 1054: the recording mark follows a start (of a live camera) and a stop
    // that succeeded; the strip follows.
    void OnRecordResult(const control::ItemPtr& item, bool start, bool succeeded);
    // 1058: the talk-active state and the camera's mark.
    void OnTalkState(const control::ItemPtr& item, bool talking);
    // 1059: the talkback did not start: the mark goes off and the user hears why
    // (`why` core::kNoMicrophone, or any other refusal).
    void OnTalkRefused(const std::string& cameraId, std::intptr_t why);
    // The toolbar's listen, record and talk-stop requests go on to the task threads
    // for a live camera only.
    void RelayIfLive(const control::ItemPtr& item, std::uint32_t task);

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
