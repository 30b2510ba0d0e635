#pragma once
// The playback tab: pick a camera in the playback tree, search its recordings in a
// time window — on the service ("远程录像") or in the local recording folder
// ("本地录像") — and play one in the playback wall's single cell with play, pause,
// stop and a position slider. Local files play through the playback engine (Rewind);
// remote recordings through a forwarding session the task threads run (1032 start,
// 1033 commands), which report back as window messages (1032, 1034, 1048). The
// recording list's item menu exports a local recording to MP4 and takes a snapshot of
// the playing picture.
//
// The main window owns the panel, offers it its notifications (HandleNotify) and
// hands it the playback messages 1032, 1034, 1047, 1048, 2022 and 2024
// (HandleMessage). Everything runs on the user-interface thread except the engine's
// status sink, which only posts to the main window, and the export's worker.

#include <QPointer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/message_ids.h"
#include "platform/message.h"
#include "platform/window_handles.h"
#include "playback/export_job.h"
#include "playback/playback_engine.h"
#include "playback/recording_search.h"
#include "ui/toolkit/paint_manager.h"


namespace wall {
class CVideoPanelMng;
}
namespace ui {
class CCameraTrees;
class CControlUI;
class CListElementUI;
class CListUI;
class CSliderUI;
class CTreeList;
}  // namespace ui

namespace playback {

// Rides with the engine's 2022 and 2024 (whose numbers and parameters stay as the
// engine gave them): the playback they are about, so that a report of a playback
// already replaced is not taken for the new one's.
struct LocalPlaybackOf {
    long handle = 0;
};

struct PlaybackEnvironment {
    // Thread messages to the task threads; false when they could not be posted.
    std::function<bool(platform::Message)> postTask;
    // The message box: its first and second line (a notice has an empty first line).
    std::function<void(const std::string& first, const std::string& second)> messageBox;
    // The record root the recorder writes under (empty: no local search).
    std::function<std::string()> recordRoot;
    // Milliseconds of a steady clock (the slider's wait after a remote seek).
    std::function<std::int64_t()> nowMs;
    // The main window's tree refresh ("btnPBUpdata").
    std::function<void()> refreshTree;
    // Where to write a file: title, suggested path, filter; empty when cancelled.
    std::function<std::string(const std::string& title, const std::string& suggested, const std::string& filter)>
        chooseSaveFile;
    // Plays local recordings; without one a local row cannot be played (said so).
    std::shared_ptr<PlaybackEngine> engine;
};

class PlaybackPanel {
public:
    // Texts the user sees.
    static constexpr const char* kRemoteMode = "远程录像";
    static constexpr const char* kLocalMode = "本地录像";
    static constexpr const char* kStartAfterEndText = "开始时间不能大于结束时间!";
    static constexpr const char* kSelectCameraText = "请选择要查找录像的设备!";
    static constexpr const char* kNoLocalFilesText = "未搜索到本地录像文件！";
    static constexpr const char* kNoRemoteFilesText = "未搜索到远程录像文件!";
    static constexpr const char* kRemoteFailedText = "回放失败!";
    static constexpr const char* kErrorCaption = "错误";
    static constexpr const char* kNoEngineText = "本地录像回放组件不可用";
    static constexpr const char* kExportItemText = "导出为 MP4…";
    static constexpr const char* kSnapshotItemText = "截图";
    static constexpr const char* kExportTitle = "导出为 MP4";
    static constexpr const char* kExportBusyText = "正在导出另一个录像，请稍候";
    static constexpr const char* kExportDoneText = "导出完成";
    static constexpr const char* kExportFailedText = "导出失败";
    static constexpr const char* kExportLocalOnlyText = "只能导出本地录像";
    static constexpr const char* kSnapshotTitle = "保存截图";
    static constexpr const char* kNoPictureText = "没有正在播放的录像画面";
    static constexpr const char* kSnapshotSavedText = "截图已保存";
    static constexpr const char* kSnapshotFailedText = "截图保存失败";
    // Skins and menu items.
    static constexpr const char* kRowSkin = "ListRecFileItem.xml";
    static constexpr const char* kMenuSkin = "RecordFilePopMenu.xml";
    static constexpr const char* kMenuExport = "menu_Export";
    static constexpr const char* kMenuSnapshot = "menu_Snapshot";
    static constexpr int kRemoteRowHeight = 22;

    enum class Buttons { kIdle, kPlaying, kPaused };

    explicit PlaybackPanel(PlaybackEnvironment environment);
    ~PlaybackPanel();
    PlaybackPanel(const PlaybackPanel&) = delete;
    PlaybackPanel& operator=(const PlaybackPanel&) = delete;

    // Finds the panel's controls (absent ones are skipped) and remembers the record
    // mode shown. `mainWindow` receives the engine's reports.
    void Bind(ui::CPaintManagerUI& manager, ui::CCameraTrees& trees, wall::CVideoPanelMng* playbackWall,
              platform::WindowHandle mainWindow);

    // True when the notification was the panel's (the window goes no further).
    bool HandleNotify(ui::TNotifyUI& msg);
    // 1032, 1034, 1047, 1048, 2022, 2024; true when the message was the panel's.
    bool HandleMessage(platform::Message& msg);

    // --- The commands behind the controls ---
    // "btnPBSearch": the time check, then the list of the tree's chosen camera.
    void Search();
    // "btnSearch": the list without the time check.
    void SearchWithoutTimeCheck();
    void List(const std::string& cameraId, const std::string& start, const std::string& end);
    void Play();
    void PlayItem(int row);
    void Pause();
    void Stop();
    void Seek(std::int64_t value);
    void FindInTree(const std::string& text);
    void ExportRow(int row);
    void Snapshot();

    // --- State, for the window and tests ---
    Buttons ButtonState() const;
    const std::optional<core::PlaybackRecord>& Current() const { return current_; }
    long Handle() const { return handle_; }
    bool StoppedFlag() const { return stopped_; }
    const std::string& RecordMode() const { return recordMode_; }
    const RemoteSliderFollow& SliderFollow() const { return follow_; }
    int FoundIndex() const { return foundIndex_; }
    bool Exporting() const { return export_ != nullptr; }

private:
    bool OnClick(ui::CControlUI* sender);
    bool IsPlaybackTreeRow(const ui::CControlUI* sender) const;
    void OpenCalendar(ui::CControlUI* field);
    void OpenItemMenu(const QPoint& atViewport);

    void OnRemoteList(const core::RemoteSearchResult* result);
    void OnRemoteStarted(const core::PlaybackRecord& record);
    void OnRemoteProgress(const core::ReplayPositionNotice& notice);
    void OnPlaybackEnded();
    void OnLocalFinished(const LocalPlaybackOf* about);

    core::PlaybackRecord RecordOfRow(int row) const;
    void StartLocal(const std::string& path, std::int64_t start, std::int64_t end, core::PlaybackRecord record);
    void StopLocal();
    void PostCommand(const core::PlaybackRecord& record, int command, std::string timeText = {});
    void SetButtons(Buttons state);
    // Play needs a chosen row (or a paused recording), Stop something to stop.
    void UpdateEnabled();
    void SetSliderRange(std::int64_t from, std::int64_t to);
    void SetSliderValue(std::int64_t value);
    void SliderToMinimum();
    void SetCurrent(std::optional<core::PlaybackRecord> record);
    void RedrawCell();
    void LeaveFullScreen();
    void Notice(const std::string& text);
    std::string CameraName(const std::string& cameraId) const;
    static std::string CellText(const ui::CListElementUI* row, const char* cell);
    static bool IsRemoteRow(const ui::CListElementUI* row);
    std::int64_t Now() const;
    platform::WindowHandle CellWindow() const;

    PlaybackEnvironment env_;
    ui::CPaintManagerUI* manager_ = nullptr;
    ui::CCameraTrees* trees_ = nullptr;
    QPointer<wall::CVideoPanelMng> wall_;
    platform::WindowHandle mainWindow_ = 0;
    ui::CListUI* list_ = nullptr;
    ui::CSliderUI* slider_ = nullptr;
    ui::CControlUI* playButton_ = nullptr;
    ui::CControlUI* pauseButton_ = nullptr;
    ui::CControlUI* stopButton_ = nullptr;
    ui::CControlUI* holder_ = nullptr;  // "hlCtrl": marked while a recording is current

    std::string recordMode_;
    std::optional<core::PlaybackRecord> current_;
    long handle_ = 0;
    // The handle the engine's reports must carry to reach the window (read on the
    // engine's thread).
    std::shared_ptr<std::atomic<long>> reportedHandle_ = std::make_shared<std::atomic<long>>(0);
    bool stopped_ = true;
    RemoteSliderFollow follow_;
    int foundIndex_ = -1;
    int menuRow_ = -1;
    std::unique_ptr<ExportJob> export_;
};

}  // namespace playback
