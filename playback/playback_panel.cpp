#include "playback/playback_panel.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProxyStyle>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core/log_file.h"
#include "record/frame_record.h"
#include "ui/camera_trees.h"
#include "ui/pickers.h"
#include "ui/pop_menu.h"
#include "ui/toolkit/control.h"
#include "ui/toolkit/list.h"
#include "ui/tree_list.h"
#include "wall/video_panel_mng.h"

namespace playback {
namespace {

// Remote commands (1033).
constexpr int kRemoteResume = 0;
constexpr int kRemotePause = 1;
constexpr int kRemoteStop = 2;
constexpr int kRemoteSeek = 3;

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::optional<std::int64_t> SearchSeconds(const std::string& text) {
    const auto fields = ReadSearchTime(text);
    return fields ? SecondsOf(*fields) : std::nullopt;
}

std::optional<std::int64_t> ListSeconds(const std::string& text) {
    const auto fields = ReadListTime(text);
    return fields ? SecondsOf(*fields) : std::nullopt;
}

// The position slider's style: the left button sets the value where it is pressed.
class ClickToPositionStyle final : public QProxyStyle {
public:
    ClickToPositionStyle() = default;  // over the application's style
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

}  // namespace

PlaybackPanel::PlaybackPanel(PlaybackEnvironment environment) : env_(std::move(environment)) {}

PlaybackPanel::~PlaybackPanel() {
    export_.reset();
    reportedHandle_->store(0);
    if (handle_ != 0 && env_.engine) env_.engine->Delete(handle_);
}

void PlaybackPanel::Bind(ui::CPaintManagerUI& manager, ui::CCameraTrees& trees, wall::CVideoPanelMng* playbackWall,
                         platform::WindowHandle mainWindow) {
    manager_ = &manager;
    trees_ = &trees;
    wall_ = playbackWall;
    mainWindow_ = mainWindow;
    list_ = manager.FindControl<ui::CListUI>("lstRecordFile");
    slider_ = manager.FindControl<ui::CSliderUI>("sldPlayProc");
    playButton_ = manager.FindControl("btnPBPlay");
    pauseButton_ = manager.FindControl("btnPBPause");
    stopButton_ = manager.FindControl("btnPBStop");
    holder_ = manager.FindControl("hlCtrl");
    recordMode_ = ui::TextOf(manager.FindControl("cbRecordMode"));
    if (list_) {
        list_->SetRowTemplate(kRowSkin);
        list_->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(list_, &QWidget::customContextMenuRequested, list_,
                         [this](const QPoint& at) { OpenItemMenu(at); });
    }
    if (slider_) {
        // One seek when the handle is let go, not one per pixel dragged.
        slider_->setTracking(false);
        // A click on the groove goes to that time, not ten seconds on.
        auto* style = new ClickToPositionStyle();
        style->setParent(slider_);
        slider_->setStyle(style);
        QSignalBlocker quiet(slider_);
        slider_->setRange(0, 0);
    }
    SetButtons(Buttons::kIdle);
}

// --- Notifications --------------------------------------------------------------------

bool PlaybackPanel::HandleNotify(ui::TNotifyUI& msg) {
    ui::CControlUI* sender = msg.pSender;
    if (!sender) return false;
    const std::string& type = msg.sType;
    const std::string name = sender->GetName();
    if (type == ui::notify::kClick) return OnClick(sender);
    if (type == ui::notify::kTextChanged && name == "rePBFindTreeList") {
        FindInTree(sender->GetText());
        return true;
    }
    if ((type == ui::notify::kItemClick || type == "node_logo") && IsPlaybackTreeRow(sender)) {
        ui::CTreeList* tree = trees_->GetTree(ui::CCameraTrees::kPlayback);
        ui::TreeNode* node = ui::CTreeList::NodeOf(sender);
        if (node && !node->IsCamera() && tree->HasChildren(node)) tree->SetExpanded(node, !node->IsExpanded());
        return true;
    }
    if (type == ui::notify::kItemSelect && list_ && sender == list_) {
        UpdateEnabled();
        return true;
    }
    if (type == ui::notify::kItemSelect && name == "cbRecordMode") {
        recordMode_ = sender->GetText();
        return true;
    }
    if (type == ui::notify::kItemDbClick) {
        auto* row = dynamic_cast<ui::CListElementUI*>(sender);
        if (!row || !list_ || row->GetOwner() != list_) return false;
        PlayItem(row->GetIndex());
        return true;
    }
    if (type == ui::notify::kValueChanged && sender == slider_) {
        Seek(slider_->GetValue());
        return true;
    }
    if (list_ && sender == list_ && (type == kMenuExport || type == kMenuSnapshot)) {
        if (type == kMenuExport)
            ExportRow(menuRow_);
        else
            Snapshot();
        return true;
    }
    return false;
}

bool PlaybackPanel::OnClick(ui::CControlUI* sender) {
    const std::string name = sender->GetName();
    if (name == "ckSchTimeStart" || name == "ckSchTimeStop") {
        OpenCalendar(sender);
    } else if (name == "btnSearch") {
        SearchWithoutTimeCheck();
    } else if (name == "btnPBSearch") {
        Stop();
        Search();
    } else if (name == "btnPBUpdata") {
        if (env_.refreshTree) env_.refreshTree();
    } else if (name == "btnPBPlay") {
        Play();
    } else if (name == "btnPBPause") {
        Pause();
    } else if (name == "btnPBStop") {
        Stop();
    } else if (name == "btnPBFindTreeList") {
        FindInTree(ui::TextOf(manager_ ? manager_->FindControl("rePBFindTreeList") : nullptr));
    } else if (name == "btnFullSreen") {
        if (wall_) wall_->FullScreen(true);
    } else {
        return false;
    }
    return true;
}

bool PlaybackPanel::IsPlaybackTreeRow(const ui::CControlUI* sender) const {
    const auto* row = dynamic_cast<const ui::CListElementUI*>(sender);
    return row && trees_ && row->GetOwner() && row->GetOwner() == trees_->GetTree(ui::CCameraTrees::kPlayback);
}

void PlaybackPanel::OpenCalendar(ui::CControlUI* field) {
    auto* box = dynamic_cast<ui::COptionUI*>(field);
    QWidget* top = box ? box->window() : nullptr;
    if (!box || !top) return;
    // Over the field, its left edge with the field's, so that it stays in the window.
    const QPoint atField = box->mapToGlobal(QPoint(0, 0));
    ui::CCalWnd::OpenFor(box, mainWindow_, atField - QPoint(0, 4));
}

// --- Search ---------------------------------------------------------------------------

void PlaybackPanel::Search() {
    const std::string start = ui::TextOf(manager_ ? manager_->FindControl("ckSchTimeStart") : nullptr);
    const std::string end = ui::TextOf(manager_ ? manager_->FindControl("ckSchTimeStop") : nullptr);
    if (StartsAfterEnd(start, end)) {
        Notice(kStartAfterEndText);
        return;
    }
    SearchWithoutTimeCheck();
}

void PlaybackPanel::SearchWithoutTimeCheck() {
    ui::CTreeList* tree = trees_ ? trees_->GetTree(ui::CCameraTrees::kPlayback) : nullptr;
    const ui::TreeNode* chosen = tree ? ui::CTreeList::NodeOf(tree->GetItemAt(tree->GetCurSel())) : nullptr;
    if (!chosen || !chosen->IsCamera()) {
        Notice(kSelectCameraText);
        return;
    }
    List(chosen->Id(), ui::TextOf(manager_->FindControl("ckSchTimeStart")),
         ui::TextOf(manager_->FindControl("ckSchTimeStop")));
}

void PlaybackPanel::List(const std::string& cameraId, const std::string& start, const std::string& end) {
    if (list_) list_->RemoveAll();
    UpdateEnabled();
    const std::string mode = Trimmed(recordMode_);
    if (mode == kRemoteMode) {
        core::RemoteSearchRequest request{mainWindow_, cameraId, 1, start, end};
        if (!env_.postTask ||
            !env_.postTask(platform::Message(core::kTaskRemoteSearch, 0, 0, platform::MakePayload(std::move(request)))))
            core::LogWrite("PostThreadMessage dwLastErr: %d\n", static_cast<int>(core::kTaskRemoteSearch));
        return;
    }
    if (mode != kLocalMode) return;
    const std::string root = env_.recordRoot ? env_.recordRoot() : std::string();
    if (root.empty()) return;
    const auto from = SearchSeconds(start);
    const auto to = SearchSeconds(end);
    std::vector<LocalRecording> found;
    if (from && to) found = ScanLocalRecordings(root, cameraId, *from, *to);
    const std::string camera = CameraName(cameraId);
    for (const LocalRecording& recording : found) {
        if (!list_) break;
        std::unique_ptr<ui::CListElementUI> row = list_->CreateElement();
        row->SetName(recording.path);
        row->Cell("ckSxtName")->SetText(camera);
        row->Cell("lbStartTime")->SetText(ListTimeText(recording.start));
        row->Cell("lbEndTime")->SetText(ListTimeText(recording.end));
        row->Cell("lbFileName")->SetText(QFileInfo(QString::fromStdString(recording.path)).completeBaseName().toStdString());
        row->Cell("lbPBId")->SetText(recording.cameraId);
        row->Cell("lbTransIp")->SetText("");
        row->Cell("lbTransPort")->SetText("");
        list_->Add(std::move(row));
    }
    UpdateEnabled();
    if (found.empty()) Notice(kNoLocalFilesText);
}

void PlaybackPanel::OnRemoteList(const core::RemoteSearchResult* result) {
    if (list_) list_->RemoveAll();
    UpdateEnabled();
    if (!result || result->timeList.empty()) {
        Notice(kNoRemoteFilesText);
        return;
    }
    const std::string camera = CameraName(result->cameraId);
    std::optional<core::PlaybackRecord> first;
    std::size_t from = 0;
    while (from <= result->timeList.size()) {
        std::size_t to = result->timeList.find(';', from);
        if (to == std::string::npos) to = result->timeList.size();
        const std::string token = result->timeList.substr(from, to - from);
        from = to + 1;
        // An empty piece (a trailing ";") names no recording.
        if (token.empty() || !list_) continue;
        const std::size_t tilde = token.find('~');
        std::unique_ptr<ui::CListElementUI> row = list_->CreateElement();
        row->SetFixedHeight(kRemoteRowHeight);
        row->SetName(token);
        row->Cell("ckSxtName")->SetText(camera);
        row->Cell("lbStartTime")->SetText(token.substr(0, tilde));
        row->Cell("lbEndTime")->SetText(tilde == std::string::npos ? std::string() : token.substr(tilde + 1));
        row->Cell("lbFileName")->SetText(token);
        row->Cell("lbPBId")->SetText(result->playbackId);
        row->Cell("lbTransIp")->SetText(result->ip);
        row->Cell("lbTransPort")->SetText(std::to_string(result->port));
        list_->Add(std::move(row));
        if (!first) {
            core::PlaybackRecord record;
            record.mainWindow = mainWindow_;
            record.playbackId = result->playbackId;
            record.key = token;
            record.ip = result->ip;
            record.port = result->port;
            record.row = list_->GetCount() - 1;
            record.cellWindow = CellWindow();
            first = std::move(record);
        }
    }
    UpdateEnabled();
    if (!first) {
        Notice(kNoRemoteFilesText);
        return;
    }
    // The first recording plays at once.
    stopped_ = false;
    if (!env_.postTask || !env_.postTask(platform::Message(core::kTaskRemotePlaybackStart, 0, 0,
                                                           platform::MakePayload(std::move(*first)))))
        core::LogWrite("PostThreadMessage dwLastErr: %d\n", static_cast<int>(core::kTaskRemotePlaybackStart));
}

// --- Play, pause, stop, seek ----------------------------------------------------------

core::PlaybackRecord PlaybackPanel::RecordOfRow(int index) const {
    core::PlaybackRecord record;
    const ui::CListElementUI* row = list_ ? list_->GetItemAt(index) : nullptr;
    if (!row) return record;
    record.mainWindow = mainWindow_;
    record.playbackId = CellText(row, "lbPBId");
    record.key = row->GetName();
    record.ip = CellText(row, "lbTransIp");
    record.port = std::atoi(CellText(row, "lbTransPort").c_str());
    record.row = index;
    record.cellWindow = CellWindow();
    return record;
}

void PlaybackPanel::Play() {
    // 1. Paused: go on with the same recording, whatever row is chosen now.
    if (playButton_ && playButton_->GetTag() == 1 && current_) {
        if (!current_->ip.empty())
            PostCommand(*current_, kRemoteResume);
        else if (env_.engine && handle_ != 0)
            env_.engine->Control(handle_, kCommandResume, 0);
        SetButtons(Buttons::kPlaying);
        return;
    }
    // 2. The chosen row.
    const int index = list_ ? list_->GetCurSel() : -1;
    const ui::CListElementUI* row = list_ ? list_->GetItemAt(index) : nullptr;
    if (!row) return;
    // One recording plays at a time: whatever plays now ends first.
    if (current_) Stop();
    core::PlaybackRecord record = RecordOfRow(index);
    stopped_ = false;
    if (IsRemoteRow(row)) {
        if (!env_.postTask ||
            !env_.postTask(platform::Message(core::kTaskRemotePlaybackStart, 0, 0, platform::MakePayload(std::move(record)))))
            core::LogWrite("PostThreadMessage dwLastErr: %d\n", static_cast<int>(core::kTaskRemotePlaybackStart));
        return;
    }
    const auto start = ListSeconds(CellText(row, "lbStartTime"));
    const auto end = ListSeconds(CellText(row, "lbEndTime"));
    const std::string path = record.key;
    StartLocal(path, start.value_or(0), end.value_or(0), std::move(record));
}

void PlaybackPanel::PlayItem(int index) {
    const ui::CListElementUI* row = list_ ? list_->GetItemAt(index) : nullptr;
    if (!row) return;
    core::PlaybackRecord record = RecordOfRow(index);
    if (IsRemoteRow(row)) {
        TimeFields from, to;
        const int read = std::sscanf(record.key.c_str(), "%d-%d-%d %d:%d:%d~%d-%d-%d %d:%d:%d", &from.year, &from.month,
                                     &from.day, &from.hour, &from.minute, &from.second, &to.year, &to.month, &to.day,
                                     &to.hour, &to.minute, &to.second);
        const std::int64_t start = read == 12 ? SecondsOf(from).value_or(-1) : -1;
        const std::int64_t end = read == 12 ? SecondsOf(to).value_or(start) : start;
        if (current_ && !current_->ip.empty() && current_->playbackId == record.playbackId && start >= 0) {
            // The running remote playback goes to that recording.
            SetSliderRange(start, end);
            char text[96];
            std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d", from.year, from.month, from.day, from.hour,
                          from.minute, from.second);
            PostCommand(*current_, kRemoteSeek, text);
            current_->row = index;
            current_->key = record.key;
            SetButtons(Buttons::kPlaying);
        } else {
            // Nothing of that search plays (stopped, ended, or a local file): start it.
            if (list_) list_->SelectItem(index);
            SetButtons(Buttons::kIdle);
            Play();
        }
        return;
    }
    const std::string file = QFileInfo(QString::fromStdString(record.key)).fileName().toStdString();
    const auto times = record::ReadFinishedName(file);
    const auto start = times ? record::SecondsOfLocalTime(times->start) : std::nullopt;
    const auto end = times ? record::SecondsOfLocalTime(times->end) : std::nullopt;
    if (current_ && !current_->ip.empty()) Stop();
    stopped_ = false;
    const std::string path = record.key;
    StartLocal(path, start.value_or(0), end.value_or(0), std::move(record));
}

void PlaybackPanel::StartLocal(const std::string& path, std::int64_t start, std::int64_t end,
                               core::PlaybackRecord record) {
    if (handle_ != 0) StopLocal();
    SetSliderRange(start, end);
    if (!env_.engine) {
        if (env_.messageBox) env_.messageBox(kNoEngineText, kErrorCaption);
        return;
    }
    long handle = 0;
    const int code = env_.engine->Start(CellWindow(), path, handle);
    if (code != 0) {
        if (env_.messageBox) env_.messageBox(env_.engine->ErrorText(code), kErrorCaption);
        return;
    }
    handle_ = handle;
    reportedHandle_->store(handle);
    // The engine's thread posts what concerns the current playback, unchanged, with
    // the handle riding along.
    env_.engine->SetStatusSink(handle, [reported = reportedHandle_, window = mainWindow_](
                                           long from, unsigned message, unsigned long wParam, long lParam) {
        if (from != reported->load()) return;
        platform::PostWindowMessage(window, platform::Message(message, wParam, lParam,
                                                              platform::MakePayload(LocalPlaybackOf{from})));
    });
    follow_.Reset();
    SetButtons(Buttons::kPlaying);
    SetCurrent(std::move(record));
}

void PlaybackPanel::StopLocal() {
    reportedHandle_->store(0);
    if (env_.engine && handle_ != 0) env_.engine->Delete(handle_);
    handle_ = 0;
}

void PlaybackPanel::Pause() {
    if (!current_) return;
    if (!current_->ip.empty())
        PostCommand(*current_, kRemotePause);
    else if (env_.engine && handle_ != 0)
        env_.engine->Control(handle_, kCommandPause, 0);
    SetButtons(Buttons::kPaused);
}

void PlaybackPanel::Stop() {
    std::optional<core::PlaybackRecord> record = std::move(current_);
    SetCurrent(std::nullopt);
    if (record) {
        if (!record->ip.empty()) {
            PostCommand(*record, kRemoteStop);
        } else {
            StopLocal();
            RedrawCell();
        }
    }
    stopped_ = true;
    follow_.Reset();
    SetButtons(Buttons::kIdle);
    SliderToMinimum();
}

void PlaybackPanel::Seek(std::int64_t value) {
    follow_.SeekTo(value, Now());
    if (!current_) return;
    if (!current_->ip.empty())
        PostCommand(*current_, kRemoteSeek, SeekTimeText(value));
    else if (env_.engine && handle_ != 0)
        env_.engine->Control(handle_, kCommandSeek, value);
}

void PlaybackPanel::PostCommand(const core::PlaybackRecord& record, int command, std::string timeText) {
    core::RemoteCommand remote;
    remote.session = record.session;
    remote.playbackId = record.playbackId;
    remote.command = command;
    remote.timeText = std::move(timeText);
    if (!env_.postTask ||
        !env_.postTask(platform::Message(core::kTaskRemotePlaybackCommand, 0, 0, platform::MakePayload(std::move(remote)))))
        core::LogWrite("PostThreadMessage dwLastErr: %d\n", static_cast<int>(core::kTaskRemotePlaybackCommand));
}

// --- Window messages ------------------------------------------------------------------

bool PlaybackPanel::HandleMessage(platform::Message& msg) {
    switch (msg.id) {
        case core::kRemoteSearchDone: OnRemoteList(platform::PayloadAs<core::RemoteSearchResult>(msg)); return true;
        case core::kRemotePlaybackStarted:
            if (const auto* record = platform::PayloadAs<core::PlaybackRecord>(msg)) OnRemoteStarted(*record);
            return true;
        case core::kReplayPosition:
            if (const auto* notice = platform::PayloadAs<core::ReplayPositionNotice>(msg)) OnRemoteProgress(*notice);
            return true;
        case core::kReplayEnded: OnPlaybackEnded(); return true;
        case core::kLocalPlaybackPosition: {
            const auto* about = platform::PayloadAs<LocalPlaybackOf>(msg);
            if (about && about->handle != handle_) return true;  // of a playback since replaced
            // The user's hand on the slider wins over the report.
            if (!(slider_ && slider_->isSliderDown())) SetSliderValue(msg.lParam);
            return true;
        }
        case core::kLocalPlaybackEnded: OnLocalFinished(platform::PayloadAs<LocalPlaybackOf>(msg)); return true;
        default: return false;
    }
}

void PlaybackPanel::OnRemoteStarted(const core::PlaybackRecord& record) {
    if (record.result != 1) {
        Notice(kRemoteFailedText);
        return;
    }
    if (stopped_) {
        // Stopped (or another search began) while it was being opened: end it there.
        PostCommand(record, kRemoteStop);
        return;
    }
    if (current_ && current_->ip.empty()) {
        StopLocal();
    }
    const ui::CListElementUI* row = list_ ? list_->GetItemAt(record.row) : nullptr;
    if (row && row->GetName() == record.key) {
        const auto start = SearchSeconds(CellText(row, "lbStartTime"));
        const auto end = SearchSeconds(CellText(row, "lbEndTime"));
        if (start) {
            SetSliderRange(*start, end.value_or(*start));
            SetSliderValue(*start);
        }
    }
    follow_.Reset();
    SetButtons(Buttons::kPlaying);
    SetCurrent(record);
}

void PlaybackPanel::OnRemoteProgress(const core::ReplayPositionNotice& notice) {
    // The record's second field is its end flag.
    if (notice.reserved != 0 || !current_) {
        SetButtons(Buttons::kIdle);
        SliderToMinimum();
        return;
    }
    if (stopped_) return;
    const auto t = SearchSeconds(notice.text);
    if (!t) return;
    if (const auto value = follow_.Progress(*t, Now())) SetSliderValue(*value);
}

void PlaybackPanel::OnPlaybackEnded() {
    if (current_) {
        SetButtons(Buttons::kIdle);
        SliderToMinimum();
        LeaveFullScreen();
    }
    SetCurrent(std::nullopt);
}

void PlaybackPanel::OnLocalFinished(const LocalPlaybackOf* about) {
    if (about && about->handle != handle_) return;  // a playback already replaced
    StopLocal();
    OnPlaybackEnded();
    RedrawCell();
}

// --- Find in tree ---------------------------------------------------------------------

void PlaybackPanel::FindInTree(const std::string& text) {
    ui::CControlUI* edit = manager_ ? manager_->FindControl("rePBFindTreeList") : nullptr;
    ui::CTreeList* tree = trees_ ? trees_->GetTree(ui::CCameraTrees::kPlayback) : nullptr;
    if (text.empty() || !tree) {
        if (edit) edit->SetFocus();
        return;
    }
    const std::vector<ui::TreeIndex::Entry> entries = trees_->Index(ui::CCameraTrees::kPlayback).Copy();
    for (int i = foundIndex_ + 1; i < static_cast<int>(entries.size()); ++i) {
        ui::TreeNode* node = entries[i].node;
        if (!node || node->Name().find(text) == std::string::npos) continue;
        foundIndex_ = i;
        if (tree->HasChildren(node)) tree->SetExpanded(node, true);
        tree->BringIntoView(node);
        if (edit) edit->SetFocus();
        return;
    }
    foundIndex_ = -1;
}

// --- Item menu: export and snapshot ----------------------------------------------------

void PlaybackPanel::OpenItemMenu(const QPoint& atViewport) {
    if (!list_) return;
    const QModelIndex under = list_->indexAt(atViewport);
    if (!under.isValid()) return;
    menuRow_ = under.row();
    list_->SelectItem(menuRow_);
    const QPoint global = list_->viewport()->mapToGlobal(atViewport);
    ui::CPopMenu* menu = ui::CPopMenu::Open(kMenuSkin, list_, global.x(), global.y(), manager_);
    if (!menu) return;
    menu->SetItemEnabled(kMenuExport, !IsRemoteRow(list_->GetItemAt(menuRow_)) && !export_);
    menu->SetItemEnabled(kMenuSnapshot, handle_ != 0 || (current_ && !current_->ip.empty()));
}

void PlaybackPanel::ExportRow(int index) {
    const ui::CListElementUI* row = list_ ? list_->GetItemAt(index) : nullptr;
    if (!row) return;
    if (IsRemoteRow(row)) {
        Notice(kExportLocalOnlyText);
        return;
    }
    if (export_) {
        Notice(kExportBusyText);
        return;
    }
    if (!env_.engine) {
        if (env_.messageBox) env_.messageBox(kNoEngineText, kErrorCaption);
        return;
    }
    const QFileInfo source(QString::fromStdString(row->GetName()));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    const std::string suggested = QDir(folder).filePath(source.completeBaseName() + ".mp4").toStdString();
    const std::string out = env_.chooseSaveFile ? env_.chooseSaveFile(kExportTitle, suggested, "MP4 (*.mp4)") : std::string();
    if (out.empty()) return;

    QWidget* owner = list_ ? list_->window() : nullptr;
    export_ = std::make_unique<ExportJob>(env_.engine, row->GetName(), out, owner, [this, out](int result, bool cancelled) {
        export_.reset();
        if (result == 0) {
            if (env_.messageBox) env_.messageBox(kExportDoneText, out);
        } else if (!cancelled) {
            core::LogWrite("export of a recording to %s failed: %d", out.c_str(), result);
            if (env_.messageBox) env_.messageBox(std::string(kExportFailedText) + "：" + env_.engine->ErrorText(result), out);
        }
    });
}

void PlaybackPanel::Snapshot() {
    QImage picture = env_.engine && handle_ != 0 ? env_.engine->LastPicture(handle_) : QImage();
    // A remote recording plays as a camera in the cell: take the picture as the cell shows it.
    if (picture.isNull() && current_ && !current_->ip.empty() && wall_)
        if (QWidget* cell = wall_->Cell(0)) picture = cell->grab().toImage();
    if (picture.isNull()) {
        Notice(kNoPictureText);
        return;
    }
    const std::string root = env_.recordRoot ? env_.recordRoot() : std::string();
    QString folder = QString::fromStdString(root);
    if (current_) folder = QFileInfo(QString::fromStdString(current_->key)).absolutePath();
    const QString name = QFileInfo(QString::fromStdString(current_ ? current_->key : "snapshot")).completeBaseName() +
                         QString::fromStdString("_" + ListTimeText(slider_ ? slider_->GetValue() : 0)) + ".png";
    const std::string suggested = QDir(folder).filePath(name).toStdString();
    const std::string out = env_.chooseSaveFile ? env_.chooseSaveFile(kSnapshotTitle, suggested, "PNG (*.png)") : suggested;
    if (out.empty()) return;
    if (!picture.save(QString::fromStdString(out), "PNG")) {
        if (env_.messageBox) env_.messageBox(kSnapshotFailedText, out);
        return;
    }
    if (env_.messageBox) env_.messageBox(kSnapshotSavedText, out);
}

// --- Controls -------------------------------------------------------------------------

PlaybackPanel::Buttons PlaybackPanel::ButtonState() const {
    if (pauseButton_ && pauseButton_->IsVisible()) return Buttons::kPlaying;
    return playButton_ && playButton_->GetTag() == 1 ? Buttons::kPaused : Buttons::kIdle;
}

void PlaybackPanel::SetButtons(Buttons state) {
    if (playButton_) {
        playButton_->SetVisible(state != Buttons::kPlaying);
        playButton_->SetTag(state == Buttons::kPaused ? 1 : 0);
    }
    if (pauseButton_) pauseButton_->SetVisible(state == Buttons::kPlaying);
    UpdateEnabled();
}

void PlaybackPanel::UpdateEnabled() {
    const bool paused = playButton_ && playButton_->GetTag() == 1 && current_;
    const bool chosen = list_ && list_->GetItemAt(list_->GetCurSel()) != nullptr;
    if (playButton_ && playButton_->IsEnabled() != (paused || chosen)) playButton_->SetEnabled(paused || chosen);
    const bool playing = current_.has_value() || handle_ != 0;
    if (stopButton_ && stopButton_->IsEnabled() != playing) stopButton_->SetEnabled(playing);
}

void PlaybackPanel::SetSliderRange(std::int64_t from, std::int64_t to) {
    if (!slider_) return;
    // Set by the program, not the user: no seek.
    QSignalBlocker quiet(slider_);
    slider_->setRange(static_cast<int>(from), static_cast<int>(std::max(from, to)));
}

void PlaybackPanel::SetSliderValue(std::int64_t value) {
    if (!slider_) return;
    QSignalBlocker quiet(slider_);
    slider_->SetValue(static_cast<int>(value));
}

void PlaybackPanel::SliderToMinimum() {
    if (slider_) SetSliderValue(slider_->minimum());
}

void PlaybackPanel::SetCurrent(std::optional<core::PlaybackRecord> record) {
    current_ = std::move(record);
    if (holder_) holder_->SetTag(current_ ? 1 : 0);
    UpdateEnabled();
}

void PlaybackPanel::RedrawCell() {
    if (wall_)
        if (QWidget* cell = wall_->Cell(0)) cell->update();
}

void PlaybackPanel::LeaveFullScreen() {
    if (wall_ && wall_->IsFullScreen()) wall_->FullScreen(false);
}

void PlaybackPanel::Notice(const std::string& text) {
    if (env_.messageBox) env_.messageBox("", text);
}

std::string PlaybackPanel::CameraName(const std::string& cameraId) const {
    const ui::TreeNode* node = trees_ ? trees_->FindNode(ui::CCameraTrees::kPlayback, cameraId) : nullptr;
    return node ? node->Name() : cameraId;
}

std::string PlaybackPanel::CellText(const ui::CListElementUI* row, const char* cell) {
    const ui::CListCellUI* found = row ? row->FindCell(cell) : nullptr;
    return found ? found->GetText() : std::string();
}

bool PlaybackPanel::IsRemoteRow(const ui::CListElementUI* row) { return !CellText(row, "lbTransIp").empty(); }

std::int64_t PlaybackPanel::Now() const {
    if (env_.nowMs) return env_.nowMs();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

platform::WindowHandle PlaybackPanel::CellWindow() const { return wall_ ? wall_->CellWindow(0) : 0; }

}  // namespace playback
