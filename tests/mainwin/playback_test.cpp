// The playback tab: the local folder's window rules and the time texts, then the panel
// in the main window with an engine of the test's own (local files) and the task
// threads' messages sent by hand (remote recordings).
#include <QImage>
#include <filesystem>
#include <fstream>
#include <thread>

#include "main_win_fixture.h"
#include "playback/playback_panel.h"
#include "playback/recording_search.h"
#include "record/frame_record.h"
#include "record/recorder.h"
#include "support/pump_events.h"
#include "ui/message_box.h"

using namespace testing_support;
using playback::PlaybackPanel;

namespace {

std::int64_t At(int year, int month, int day, int hour, int minute, int second) {
    return *playback::SecondsOf({year, month, day, hour, minute, second});
}

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

std::string RecordingIn(const std::string& folder, std::int64_t start, std::int64_t end) {
    const std::string path = folder + "/" + record::FinishedName(start, end);
    Touch(path);
    return path;
}

// Plays nothing: it remembers what the panel asked and reports when the test says so,
// from a thread of its own as the library does.
class FakeEngine final : public playback::PlaybackEngine {
public:
    struct Command {
        long handle;
        int command;
        long long value;
        bool operator==(const Command&) const = default;
    };
    int Start(platform::WindowHandle cell, const std::string& path, long& handle) override {
        if (failWith != 0) return failWith;
        handle = ++lastHandle;
        started.push_back(path);
        cells.push_back(cell);
        return 0;
    }
    std::string ErrorText(int code) const override { return "无法读取录像文件 (" + std::to_string(code) + ")"; }
    void SetStatusSink(long handle, StatusSink sink) override {
        std::lock_guard lock(mutex);
        sinks[handle] = std::move(sink);
    }
    int Control(long handle, int command, long long value) override {
        commands.push_back({handle, command, value});
        return 0;
    }
    void Delete(long handle) override {
        deleted.push_back(handle);
        std::lock_guard lock(mutex);
        sinks.erase(handle);
    }
    QImage LastPicture(long) const override { return picture; }
    int Export(const std::string&, const std::string&, long long, long long, ExportProgress) override { return 0; }

    // The library's thread reports for `handle` (a sink kept by the test for a handle
    // already deleted still reports: a late report).
    void Report(long handle, unsigned message, long lParam, StatusSink sink = {}) {
        if (!sink) {
            std::lock_guard lock(mutex);
            sink = sinks[handle];
        }
        std::thread([&] { if (sink) sink(handle, message, 0, lParam); }).join();
    }
    StatusSink SinkOf(long handle) {
        std::lock_guard lock(mutex);
        return sinks[handle];
    }

    int failWith = 0;
    long lastHandle = 0;
    std::vector<std::string> started;
    std::vector<platform::WindowHandle> cells;
    std::vector<Command> commands;
    std::vector<long> deleted;
    QImage picture;
    std::mutex mutex;
    std::map<long, StatusSink> sinks;
};

class PlaybackTest : public MainWinTest {
protected:
    void SetUp() override {
        MainWinTest::SetUp();
        core::AppConfig::Instance().recordSavePath = dir.File("records");
    }

    mainwin::CMainWin& OpenWithEngine() {
        mainwin::MainWinEnvironment env = Environment();
        env.playbackEngine = [this] { return engine; };
        env.playbackClockMs = [this] { return clockMs; };
        env.chooseSaveFile = [this](const std::string&, const std::string& suggested, const std::string&) {
            return savedTo.empty() ? suggested : savedTo;
        };
        window = std::make_unique<mainwin::CMainWin>(std::move(env));
        EXPECT_TRUE(window->Create(0, "远程监控"));
        window->GetWidget()->resize(1280, 800);
        window->ShowWindow();
        Click("playbackbtn");
        QApplication::processEvents();
        return *window;
    }
    PlaybackPanel& Panel() { return *window->Playback(); }

    void ChooseMode(int index) {
        auto* mode = Control<ui::CComboUI>("cbRecordMode");
        ASSERT_NE(mode, nullptr);
        mode->SelectItem(index);
        window->m_PaintManager.SendNotify(mode, ui::notify::kItemSelect, index);
    }
    void ChooseCamera(const std::string& id) {
        ui::CTreeList* tree = window->Trees().GetTree(ui::CCameraTrees::kPlayback);
        ui::TreeNode* node = tree->FindById(id);
        ASSERT_NE(node, nullptr);
        tree->BringIntoView(node);
    }
    void SetWindowTexts(const std::string& start, const std::string& end) {
        Control("ckSchTimeStart")->SetText(start);
        Control("ckSchTimeStop")->SetText(end);
    }
    // The next message box's two lines.
    std::shared_ptr<std::vector<std::string>> ExpectBox() {
        auto lines = std::make_shared<std::vector<std::string>>();
        boxes.Then([lines](ui::WindowImplBase& box) {
            if (auto* shown = dynamic_cast<ui::CPopMessageBox*>(&box)) *lines = {shown->textOne, shown->textTwo};
            box.Close(17);
        });
        return lines;
    }
    ui::CListUI* Records() { return Control<ui::CListUI>("lstRecordFile"); }
    ui::CSliderUI* Slider() { return Control<ui::CSliderUI>("sldPlayProc"); }
    int RowOf(const std::string& key) {
        for (int i = 0; i < Records()->GetCount(); ++i)
            if (Records()->GetItemAt(i)->GetName() == key) return i;
        return -1;
    }
    std::vector<platform::Message> TasksOf(std::uint32_t id) {
        std::vector<platform::Message> found;
        for (auto& task : tasks)
            if (task.id == id) found.push_back(std::move(task));
        std::erase_if(tasks, [id](const platform::Message& m) { return m.id == id || m.id == 0; });
        return found;
    }
    static platform::Message Progress(const std::string& text, int endFlag = 0) {
        return platform::Message(core::kReplayPosition, 0, 0,
                                 platform::MakePayload(core::ReplayPositionNotice{core::kPlaybackCellKey, endFlag, text}));
    }

    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>();
    std::int64_t clockMs = 1'000'000;
    std::string savedTo;
};

}  // namespace

TEST(PlaybackRules, LocalFolderWindowAndTimeTexts) {
    TempDir dir;
    const std::int64_t from = At(2024, 3, 5, 10, 0, 0), to = At(2024, 3, 5, 12, 0, 0);
    // The window rules at their edges.
    EXPECT_FALSE(playback::ListedInWindow(from - 600, from + 600, from, to)) << "starts before, ends inside";
    EXPECT_TRUE(playback::ListedInWindow(from - 600, to + 600, from, to)) << "starts before, ends after";
    EXPECT_TRUE(playback::ListedInWindow(from + 1, to + 600, from, to)) << "starts inside";
    EXPECT_FALSE(playback::ListedInWindow(from, from + 600, from, to)) << "starts exactly at the start";
    EXPECT_FALSE(playback::ListedInWindow(to + 1, to + 600, from, to));

    const std::string root = dir.File("records");
    const std::string folder = record::RecordingFolder(root, "cam7");
    std::filesystem::create_directories(folder);
    const std::string inside = RecordingIn(folder, from + 60, from + 1860);
    const std::string covering = RecordingIn(folder, from - 60, to + 60);
    const std::string endsInside = RecordingIn(folder, from - 1800, from + 60);  // not listed
    RecordingIn(folder, to + 60, to + 600);       // after the window
    // Names that do not read exactly, hidden files and folders named like recordings.
    for (const char* name : {"1-1-1 1-1-1_1-1-1 1-1-1.mvp", "2024-13-05 10-30-00_2024-13-05 10-40-00.mvp",
                             "2024-03-05 10-30-00_2024-03-05 10-40-00.mvp.part", "tmp.mvd", "notes.txt"})
        Touch(folder + "/" + name);
    Touch(folder + "/." + record::FinishedName(from + 60, from + 120));
    std::filesystem::create_directory(folder + "/" + record::FinishedName(from + 120, from + 180));

    std::vector<std::string> paths;
    for (const auto& found : playback::ScanLocalRecordings(root, "cam7", from, to)) {
        paths.push_back(found.path);
        EXPECT_EQ(found.cameraId, "cam7");
        if (found.path == covering) {
            EXPECT_EQ(found.start, from - 60);
            EXPECT_EQ(found.end, to + 60);
        }
    }
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> expected{inside, covering};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(paths, expected);
    EXPECT_TRUE(playback::ScanLocalRecordings(root, "nobody", from, to).empty()) << "no folder, no recordings";
    const auto atOneSecond = playback::ScanLocalRecordings(root, "cam7", from, from);
    ASSERT_EQ(atOneSecond.size(), 2u) << "a window of one second: the files around it";
    EXPECT_NE(atOneSecond[0].path, inside);
    EXPECT_NE(atOneSecond[1].path, inside);
    EXPECT_TRUE(atOneSecond[0].path == endsInside || atOneSecond[1].path == endsInside);

    // The time check accepts equal texts and refuses a start after the end.
    EXPECT_FALSE(playback::StartsAfterEnd("2024-03-05 10:00:00", "2024-03-05 10:00:00"));
    EXPECT_TRUE(playback::StartsAfterEnd("2024-03-05 10:00:01", "2024-03-05 10:00:00"));
    EXPECT_FALSE(playback::StartsAfterEnd("2023-12-31 23:59:59", "2024-01-01 00:00:00"));
    // A remote seek pads with spaces: March is " 3".
    EXPECT_EQ(playback::SeekTimeText(At(2024, 3, 5, 9, 7, 3)), "2024- 3- 5  9: 7: 3");
    EXPECT_EQ(playback::SeekTimeText(At(2024, 11, 25, 19, 47, 13)), "2024-11-25 19:47:13");
    EXPECT_EQ(playback::ListTimeText(At(2024, 3, 5, 9, 7, 3)), "2024-03-05-09-07-03");

    // The slider after a remote seek (clock in ms).
    playback::RemoteSliderFollow follow;
    EXPECT_EQ(follow.Progress(1000, 0), 1000) << "no seek: the slider follows";
    follow.SeekTo(2000, 100);
    EXPECT_EQ(follow.Progress(1001, 1000), std::nullopt) << "frozen until the stream arrives";
    EXPECT_EQ(follow.Progress(1985, 2000), std::nullopt) << "within 20 s: arrived";
    EXPECT_EQ(follow.Pending(), std::nullopt);
    EXPECT_EQ(follow.Progress(1986, 2100), 1986) << "and followed again";
    follow.SeekTo(5000, 3000);
    EXPECT_EQ(follow.Progress(1990, 8000), std::nullopt);
    EXPECT_TRUE(follow.Pending()) << "5000 ms after the seek: still waiting";
    EXPECT_EQ(follow.Progress(1991, 8100), std::nullopt);
    EXPECT_FALSE(follow.Pending()) << "5001 ms or more: given up";
    EXPECT_EQ(follow.Progress(1992, 8200), 1992);
    // Paused for a minute, then a seek: the first report after it does not give it up.
    follow.SeekTo(9000, 68200);
    EXPECT_EQ(follow.Progress(1993, 68300), std::nullopt);
    EXPECT_TRUE(follow.Pending());
}

TEST_F(PlaybackTest, LocalSearchPlayPauseResumeSeekAndEnd) {
    const std::int64_t from = At(2024, 3, 5, 0, 0, 0), to = At(2024, 3, 5, 23, 59, 59);
    const std::string folder = record::RecordingFolder(core::AppConfig::Instance().recordSavePath, "c1");
    std::filesystem::create_directories(folder);
    const std::string first = RecordingIn(folder, from + 3600, from + 5400);
    const std::string second = RecordingIn(folder, from + 7200, from + 9000);
    RecordingIn(folder, from - 600, from + 600);  // begins the day before: not listed
    OpenWithEngine();
    ASSERT_NE(window->Playback(), nullptr);
    EXPECT_TRUE(Visible("btnPBPlay"));
    EXPECT_FALSE(Visible("btnPBPause")) << "idle";

    // The playback tree expands on a click and finds by name, walking through matches.
    ui::CTreeList* tree = window->Trees().GetTree(ui::CCameraTrees::kPlayback);
    ui::TreeNode* east = tree->FindById("n1");
    const bool wasExpanded = east->IsExpanded();
    window->m_PaintManager.SendNotify(east->Element(), ui::notify::kItemClick);
    EXPECT_NE(east->IsExpanded(), wasExpanded);
    window->m_PaintManager.SendNotify(east->Element(), ui::notify::kItemClick);
    EXPECT_EQ(east->IsExpanded(), wasExpanded);
    tree->SetExpanded(tree->FindById("n3"), false);
    Control("rePBFindTreeList")->SetText("浦东");
    Click("btnPBFindTreeList");
    EXPECT_EQ(ui::CTreeList::NodeOf(tree->GetItemAt(tree->GetCurSel())), tree->FindById("c4"))
        << "found, its collapsed area opened and the row chosen";
    EXPECT_TRUE(tree->FindById("n3")->IsExpanded());
    Click("btnPBFindTreeList");
    EXPECT_EQ(Panel().FoundIndex(), -1) << "no further match: the next search starts at the top";

    ChooseMode(1);
    EXPECT_EQ(window->RecordMode(), "本地录像");
    // No camera chosen.
    tree->SelectItem(tree->GetItemIndex(east->Element()));
    auto box = ExpectBox();
    Click("btnPBSearch");
    EXPECT_EQ(*box, (std::vector<std::string>{"", "请选择要查找录像的设备!"}));
    ChooseCamera("c1");
    // A start after the end is refused; equal texts pass the check (and find nothing).
    SetWindowTexts("2024-03-05 10:00:01", "2024-03-05 10:00:00");
    box = ExpectBox();
    Click("btnPBSearch");
    EXPECT_EQ(*box, (std::vector<std::string>{"", "开始时间不能大于结束时间!"}));
    SetWindowTexts("2024-03-05 10:00:00", "2024-03-05 10:00:00");
    box = ExpectBox();
    Click("btnPBSearch");
    EXPECT_EQ(*box, (std::vector<std::string>{"", "未搜索到本地录像文件！"}));

    SetWindowTexts(playback::SearchTimeText(from), playback::SearchTimeText(to));
    Click("btnPBSearch");
    ASSERT_EQ(Records()->GetCount(), 2);
    const int row = RowOf(first);
    ASSERT_GE(row, 0);
    ASSERT_GE(RowOf(second), 0);
    const ui::CListElementUI* item = Records()->GetItemAt(row);
    EXPECT_EQ(item->FindCell("ckSxtName")->GetText(), "西湖入口");
    EXPECT_EQ(item->FindCell("lbStartTime")->GetText(), "2024-03-05-01-00-00");
    EXPECT_EQ(item->FindCell("lbPBId")->GetText(), "c1");
    EXPECT_EQ(item->FindCell("lbTransIp")->GetText(), "");

    // A file the library cannot play: its own text, then "错误".
    engine->failWith = -3;
    Records()->SelectItem(row);
    box = ExpectBox();
    Click("btnPBPlay");
    EXPECT_EQ(*box, (std::vector<std::string>{"无法读取录像文件 (-3)", "错误"}));
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kIdle);
    engine->failWith = 0;

    Click("btnPBPlay");
    ASSERT_EQ(engine->started, std::vector<std::string>{first});
    EXPECT_EQ(engine->cells[0], window->PlaybackWall()->CellWindow(0)) << "into the playback cell";
    const long handle = Panel().Handle();
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kPlaying);
    EXPECT_FALSE(Visible("btnPBPlay"));
    EXPECT_TRUE(Visible("btnPBPause"));
    EXPECT_EQ(Slider()->minimum(), from + 3600);
    EXPECT_EQ(Slider()->maximum(), from + 5400);
    EXPECT_TRUE(engine->commands.empty()) << "setting the range is no seek";

    // Positions from the library's thread reach the slider; a stale playback's do not.
    engine->Report(handle, core::kLocalPlaybackPosition, from + 4000);
    ASSERT_TRUE(PumpUntil([&] { return Slider()->value() == from + 4000; }));
    engine->Report(handle + 7, core::kLocalPlaybackPosition, from + 4100, engine->SinkOf(handle));
    QApplication::processEvents();
    EXPECT_EQ(Slider()->value(), from + 4000);
    EXPECT_TRUE(engine->commands.empty()) << "a report moves the slider without seeking";

    // Pause, choose the other row, Play: the same recording goes on.
    Click("btnPBPause");
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kPaused);
    EXPECT_EQ(Control("btnPBPlay")->GetTag(), 1);
    Records()->SelectItem(RowOf(second));
    Click("btnPBPlay");
    EXPECT_EQ(engine->started.size(), 1u) << "resumed, not started again";
    EXPECT_EQ(engine->commands, (std::vector<FakeEngine::Command>{{handle, 2, 0}, {handle, 1, 0}}));
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kPlaying);

    // The user moves the slider: a seek to that second.
    Slider()->setValue(static_cast<int>(from + 4500));
    EXPECT_EQ(engine->commands.back(), (FakeEngine::Command{handle, 5, from + 4500}));

    // The end of the file: the playback goes, the controls are idle, full screen is left.
    window->PlaybackWall()->FullScreen(true);
    engine->Report(handle, core::kLocalPlaybackEnded, 0);
    ASSERT_TRUE(PumpUntil([&] { return Panel().Handle() == 0; }));
    EXPECT_EQ(engine->deleted, std::vector<long>{handle});
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kIdle);
    EXPECT_FALSE(Panel().Current());
    EXPECT_EQ(Slider()->value(), Slider()->minimum());
    EXPECT_FALSE(window->PlaybackWall()->IsFullScreen());

    // Double-click plays a row; a late end report of the old playback changes nothing.
    const auto oldSink = engine->SinkOf(handle);
    window->m_PaintManager.SendNotify(Records()->GetItemAt(RowOf(second)), ui::notify::kItemDbClick);
    ASSERT_EQ(engine->started.size(), 2u);
    EXPECT_EQ(engine->started[1], second);
    const long next = Panel().Handle();
    EXPECT_NE(next, handle);
    EXPECT_EQ(Slider()->minimum(), from + 7200);
    engine->Report(handle, core::kLocalPlaybackEnded, 0, oldSink);
    QApplication::processEvents();
    EXPECT_EQ(Panel().Handle(), next);
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kPlaying);

    // Snapshot of the playing picture to PNG.
    engine->picture = QImage(64, 48, QImage::Format_RGB32);
    engine->picture.fill(Qt::darkCyan);
    savedTo = dir.File("shot.png");
    box = ExpectBox();
    Panel().Snapshot();
    EXPECT_EQ(*box, (std::vector<std::string>{"截图已保存", savedTo}));
    EXPECT_EQ(QImage(QString::fromStdString(savedTo)).size(), QSize(64, 48));

    // Stop: the playback is deleted and the slider rests at its start.
    Click("btnPBStop");
    EXPECT_EQ(engine->deleted, (std::vector<long>{handle, next}));
    EXPECT_TRUE(Panel().StoppedFlag());
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kIdle);
}

TEST_F(PlaybackTest, RemoteListStartsTheFirstRecordingAndFollowsSeeks) {
    OpenWithEngine();
    ChooseMode(0);
    ChooseCamera("c1");
    SetWindowTexts("2024-03-05 00:00:00", "2024-03-05 23:59:59");
    Click("btnPBSearch");
    auto searches = TasksOf(core::kTaskRemoteSearch);
    ASSERT_EQ(searches.size(), 1u);
    const auto* request = platform::PayloadAs<core::RemoteSearchRequest>(searches[0]);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->cameraId, "c1");
    EXPECT_EQ(request->kind, 1);
    EXPECT_EQ(request->startTime, "2024-03-05 00:00:00");
    EXPECT_EQ(request->endTime, "2024-03-05 23:59:59");
    EXPECT_EQ(request->mainWindow, window->GetHWND());

    // Nothing found.
    auto box = ExpectBox();
    Send(platform::Message(core::kRemoteSearchDone, 0, 0, platform::MakePayload(core::RemoteSearchResult{"c1", 2, "无数据", "", "", 0, ""})));
    EXPECT_EQ(*box, (std::vector<std::string>{"", "未搜索到远程录像文件!"}));
    EXPECT_TRUE(TasksOf(core::kTaskRemotePlaybackStart).empty());

    core::RemoteSearchResult found{"c1", 0, "成功", "pb-77", "127.0.0.1", 7001,
                                   "2024-03-05 09:00:00~2024-03-05 09:30:00;2024-03-05 10:00:00~2024-03-05 10:30:00"};
    Send(platform::Message(core::kRemoteSearchDone, 0, 0, platform::MakePayload(found)));
    ASSERT_EQ(Records()->GetCount(), 2);
    const ui::CListElementUI* item = Records()->GetItemAt(1);
    EXPECT_EQ(item->GetName(), "2024-03-05 10:00:00~2024-03-05 10:30:00");
    EXPECT_EQ(item->FindCell("lbStartTime")->GetText(), "2024-03-05 10:00:00");
    EXPECT_EQ(item->FindCell("lbEndTime")->GetText(), "2024-03-05 10:30:00");
    EXPECT_EQ(item->FindCell("lbTransPort")->GetText(), "7001");
    EXPECT_EQ(item->GetFixedHeight(), 22);
    // The first recording starts at once.
    auto starts = TasksOf(core::kTaskRemotePlaybackStart);
    ASSERT_EQ(starts.size(), 1u);
    core::PlaybackRecord record = *platform::PayloadAs<core::PlaybackRecord>(starts[0]);
    EXPECT_EQ(record.row, 0);
    EXPECT_EQ(record.key, "2024-03-05 09:00:00~2024-03-05 09:30:00");
    EXPECT_EQ(record.playbackId, "pb-77");
    EXPECT_EQ(record.ip, "127.0.0.1");
    EXPECT_EQ(record.port, 7001);
    EXPECT_EQ(record.cellKey, core::kPlaybackCellKey);
    EXPECT_EQ(record.cellWindow, window->PlaybackWall()->CellWindow(0));
    EXPECT_FALSE(Panel().StoppedFlag());

    // A failed start says so; a started one takes the row's range.
    box = ExpectBox();
    Send(platform::Message(core::kRemotePlaybackStarted, 0, 0, platform::MakePayload(record)));
    EXPECT_EQ(*box, (std::vector<std::string>{"", "回放失败!"}));
    EXPECT_FALSE(Panel().Current());
    record.result = 1;
    record.session = "s-1";
    Send(platform::Message(core::kRemotePlaybackStarted, 0, 0, platform::MakePayload(record)));
    ASSERT_TRUE(Panel().Current());
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kPlaying);
    const std::int64_t nine = At(2024, 3, 5, 9, 0, 0);
    EXPECT_EQ(Slider()->minimum(), nine);
    EXPECT_EQ(Slider()->maximum(), nine + 1800);
    EXPECT_EQ(Slider()->value(), nine);
    EXPECT_TRUE(TasksOf(core::kTaskRemotePlaybackCommand).empty()) << "setting the slider is no seek";
    // A snapshot of a remote recording is the playback cell as it is shown.
    savedTo = dir.File("remote.png");
    box = ExpectBox();
    Panel().Snapshot();
    EXPECT_EQ(*box, (std::vector<std::string>{"截图已保存", savedTo}));
    EXPECT_FALSE(QImage(QString::fromStdString(savedTo)).isNull());

    // The stream's time moves the slider.
    Send(Progress("2024-3-5 9:1:0"));
    EXPECT_EQ(Slider()->value(), nine + 60);
    // A seek of 19 minutes: a space-padded time text, and the slider waits for it.
    Slider()->setValue(static_cast<int>(nine + 1140));
    auto commands = TasksOf(core::kTaskRemotePlaybackCommand);
    ASSERT_EQ(commands.size(), 1u);
    const auto* seek = platform::PayloadAs<core::RemoteCommand>(commands[0]);
    EXPECT_EQ(seek->command, 3);
    EXPECT_EQ(seek->timeText, "2024- 3- 5  9:19: 0");
    EXPECT_EQ(seek->session, "s-1");
    EXPECT_EQ(seek->playbackId, "pb-77");
    clockMs += 1000;
    Send(Progress("2024-3-5 9:1:1"));
    EXPECT_EQ(Slider()->value(), nine + 1140) << "frozen while the seek travels";
    clockMs += 1000;
    Send(Progress("2024-3-5 9:18:50"));
    EXPECT_FALSE(Panel().SliderFollow().Pending()) << "arrived within 20 s";
    Send(Progress("2024-3-5 9:18:51"));
    EXPECT_EQ(Slider()->value(), nine + 1131);
    // A seek that never arrives is given up after 5001 ms.
    Slider()->setValue(static_cast<int>(nine + 1700));
    TasksOf(core::kTaskRemotePlaybackCommand);
    clockMs += 5001;
    Send(Progress("2024-3-5 9:18:52"));
    Send(Progress("2024-3-5 9:18:53"));
    EXPECT_EQ(Slider()->value(), nine + 1133);

    // Pause and Play: the same session resumes.
    Click("btnPBPause");
    Click("btnPBPlay");
    commands = TasksOf(core::kTaskRemotePlaybackCommand);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(platform::PayloadAs<core::RemoteCommand>(commands[0])->command, 1);
    EXPECT_EQ(platform::PayloadAs<core::RemoteCommand>(commands[1])->command, 0);
    EXPECT_TRUE(TasksOf(core::kTaskRemotePlaybackStart).empty());

    // A double-click on the other row seeks the running session there.
    window->m_PaintManager.SendNotify(Records()->GetItemAt(1), ui::notify::kItemDbClick);
    commands = TasksOf(core::kTaskRemotePlaybackCommand);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(platform::PayloadAs<core::RemoteCommand>(commands[0])->timeText, "2024-3-5 10:0:0");
    EXPECT_EQ(Slider()->minimum(), At(2024, 3, 5, 10, 0, 0));

    // The end of the stream.
    window->PlaybackWall()->FullScreen(true);
    Send(platform::Message(core::kReplayEnded, core::kPlaybackCellKey, 0));
    EXPECT_FALSE(Panel().Current());
    EXPECT_EQ(Panel().ButtonState(), PlaybackPanel::Buttons::kIdle);
    EXPECT_FALSE(window->PlaybackWall()->IsFullScreen());
    EXPECT_TRUE(engine->started.empty()) << "remote recordings never reach the local engine";
}
