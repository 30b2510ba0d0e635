// The pieces of the main window that need no window: the reply queue, the video
// parameter rules and task handlers, the status bar's figures, the tree refresh and
// the file that keeps a user's wall.
#include <gtest/gtest.h>

#include <thread>

#include "core/message_ids.h"
#include "mainwin/reply_queue.h"
#include "mainwin/status_bar.h"
#include "mainwin/tree_refresh.h"
#include "tasks/tree_refresh_task.h"
#include "mainwin/video_params.h"
#include "mainwin/wall_memory.h"
#include "platform/paths.h"
#include "support/temp_dir.h"
#include "platform/window_handles.h"
#include "ui/tree_fixture.h"

using namespace mainwin;

TEST(ReplyQueue, HandlesRecordsInOrderAndDropsTypesWithoutAHandler) {
    auto queue = std::make_shared<ReplyQueue>();
    std::vector<std::string> seen;
    queue->RegisterHandler(43, [&](const control::ControlMessage& m) { seen.push_back("43:" + m.Param("total")); });
    queue->RegisterHandler(60, [&](const control::ControlMessage& m) {
        seen.push_back("60:" + std::to_string(m.id));
        if (m.id == 2) queue->Push(9, 43, {{"total", "late"}});  // queued while draining: same run
    });
    queue->Push(1, 43, {{"total", "3"}});
    queue->Push(2, 60, {});
    queue->Push(3, 73, {{"x", "y"}});  // the device search is not built in: dropped
    EXPECT_EQ(queue->Size(), 3u);
    EXPECT_EQ(queue->Drain(), 4u);
    EXPECT_EQ(seen, (std::vector<std::string>{"43:3", "60:2", "43:late"}));
    EXPECT_EQ(queue->Size(), 0u);
    queue->UnregisterHandler(43);
    queue->Push(4, 43, {});
    queue->Drain();
    EXPECT_EQ(seen.size(), 3u);
}

TEST(ReplyQueue, PostsOneNoticePerRecordWithItsType) {
    std::vector<platform::Message> posted;
    platform::LoopExecutor executor;
    // Collect the posts through a headless window handle.
    auto handle = platform::CreateWindowHandle(
        [&](platform::Message& m) {
            posted.push_back(platform::Message(m.id, m.wParam, m.lParam));
            return std::intptr_t{0};
        },
        std::shared_ptr<platform::MessageExecutor>(&executor, [](platform::MessageExecutor*) {}));
    auto queue = std::make_shared<ReplyQueue>();
    queue->SetWindow(handle);
    queue->Push(1, 51, {});
    queue->Push(2, 42, {});
    executor.RunPending();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].id, core::kReplyQueued);
    EXPECT_EQ(posted[0].wParam, 51u);
    EXPECT_EQ(posted[1].wParam, 42u);
    platform::DestroyWindowHandle(handle);
    queue->Push(3, 51, {});  // the window is gone: the post is dropped, the record kept
    EXPECT_EQ(queue->Size(), 3u);
}

TEST(ReplyQueue, TheCallbackKeepsTheQueueAliveAndCopiesFromManyThreads) {
    auto queue = std::make_shared<ReplyQueue>();
    auto callback = queue->Callback();
    std::weak_ptr<ReplyQueue> watch = queue;
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&callback, t] {
            for (int i = 0; i < 250; ++i) callback(t * 1000 + i, 60, {{"i", std::to_string(i)}}, nullptr);
        });
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(queue->Size(), 1000u);
    queue.reset();
    EXPECT_FALSE(watch.expired()) << "a callback still held by the control client keeps its queue";
    callback(1, 60, {}, nullptr);
}

TEST(VideoParameters, FrameRatesResolutionsAndTexts) {
    EXPECT_EQ(FrameRateIndex(1), 0);
    EXPECT_EQ(FrameRateIndex(12), 6);
    EXPECT_EQ(FrameRateIndex(24), 10);
    EXPECT_EQ(FrameRateIndex(25), -1);
    EXPECT_EQ(FrameRateIndex(0), -1);
    const std::pair quarter{480, 270};  // a cell of a 2 × 2 wall
    EXPECT_EQ(ResolutionOfIndex(1, quarter), (std::pair{352, 240}));
    EXPECT_EQ(ResolutionOfIndex(4, quarter), (std::pair{704, 576}));
    EXPECT_EQ(ResolutionOfIndex(5, quarter), (std::pair{1280, 720}));
    EXPECT_EQ(ResolutionOfIndex(6, quarter), (std::pair{1920, 1080}));
    EXPECT_EQ(ResolutionOfIndex(-1, quarter), (std::pair{1920, 1080}));
    // "自动" fits the cell: the smallest size that fills it, the largest beyond.
    EXPECT_EQ(ResolutionOfIndex(0, quarter), (std::pair{704, 288}));
    EXPECT_EQ(ResolutionOfIndex(0, {240, 135}), (std::pair{352, 240})) << "a cell of a 8 × 8 wall";
    EXPECT_EQ(ResolutionOfIndex(0, {352, 289}), (std::pair{704, 576}));
    EXPECT_EQ(ResolutionOfIndex(0, {1280, 720}), (std::pair{1280, 720}));
    EXPECT_EQ(ResolutionOfIndex(0, {2560, 1440}), (std::pair{1920, 1080})) << "full screen on a large display";
    EXPECT_EQ(SizeText(704, 576), "704X576");
    EXPECT_EQ(LeadingNumber("15"), 15);
    EXPECT_EQ(LeadingNumber(" 21 fps"), 21);
    EXPECT_EQ(LeadingNumber("fast"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
}

TEST(VideoParameters, ACameraAnswerIsUsedOnlyWhenEveryNumberIsSound) {
    std::map<std::string, std::string> reply{{"width", "704"}, {"height", "576"}, {"qp", "3"}, {"fr", "25"}, {"recoder", "1"}};
    auto record = tasks::ParseVideoParameters(reply, 4);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->cell, 4);
    EXPECT_EQ(record->width, 704);
    EXPECT_EQ(record->frameRate, 25);
    EXPECT_EQ(record->recorder, 1);
    reply.erase("recoder");
    ASSERT_TRUE(tasks::ParseVideoParameters(reply, 0));
    EXPECT_EQ(tasks::ParseVideoParameters(reply, 0)->recorder, 0);
    for (auto [key, bad] : {std::pair{"width", "70x"}, std::pair{"height", ""}, std::pair{"qp", "-1"},
                            std::pair{"fr", "99999999999"}, std::pair{"width", " 704"}, std::pair{"height", "1e3"}}) {
        auto broken = reply;
        broken[key] = bad;
        EXPECT_FALSE(tasks::ParseVideoParameters(broken, 0)) << key << "=" << bad;
    }
    reply.erase("qp");
    EXPECT_FALSE(tasks::ParseVideoParameters(reply, 0));
    EXPECT_EQ(tasks::VideoParameterCommand({1, 352, 288, 2, 15, 1}),
              (std::map<std::string, std::string>{{"width", "352"}, {"height", "288"}, {"qp", "2"}, {"fr", "15"}, {"recoder", "1"}}));
}

TEST(VideoParameters, TaskHandlersTalkToTheCellsLinkAndAnswerOnlyWhatCameBack) {
    tasks::VideoParamEnvironment env;
    std::vector<std::pair<int, std::map<std::string, std::string>>> written;
    std::vector<platform::Message> posted;
    std::map<std::string, std::string> cameraSays{{"width", "1280"}, {"height", "720"}, {"qp", "1"}, {"fr", "12"}};
    bool answers = true;
    env.write = [&](int cell, const std::map<std::string, std::string>& p) {
        written.emplace_back(cell, p);
        return true;
    };
    env.read = [&](int, std::map<std::string, std::string>& out) {
        out = cameraSays;
        return answers;
    };
    env.postNotify = [&](platform::Message m) {
        posted.push_back(std::move(m));
        return true;
    };
    platform::Message write(core::kTaskWriteVideoParameters, 0, 0, platform::MakePayload(VideoParamRecord{3, 704, 576, 2, 25, 0}));
    tasks::HandleWriteVideoParameters(write, env);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].first, 3);
    EXPECT_EQ(written[0].second.at("fr"), "25");
    platform::Message noRecord(core::kTaskWriteVideoParameters, 0, 0);
    tasks::HandleWriteVideoParameters(noRecord, env);
    EXPECT_EQ(written.size(), 1u);

    platform::Message read(core::kTaskReadVideoParameters, 6, 0);
    tasks::HandleReadVideoParameters(read, env);
    ASSERT_EQ(posted.size(), 1u);
    const auto* record = platform::PayloadAs<VideoParamRecord>(posted[0]);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->cell, 6);
    EXPECT_EQ(record->width, 1280);
    answers = false;
    tasks::HandleReadVideoParameters(read, env);
    answers = true;
    cameraSays["width"] = "wide";
    tasks::HandleReadVideoParameters(read, env);
    EXPECT_EQ(posted.size(), 1u) << "no answer and a garbled answer post nothing";
}

TEST(StatusBar, FiguresAreFormattedAsTheBarShowsThem) {
    std::tm local{};
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 7;
    const StatusTexts texts = FormatStatus(37, 10 * 1024 + 1023, local, 12);
    EXPECT_EQ(texts.cpu, "37%");
    EXPECT_EQ(texts.net, "10KB");
    EXPECT_EQ(texts.time, "09:05:07");
    EXPECT_EQ(texts.nodes, "12");
    EXPECT_EQ(FormatStatus(0, 1023, local, 0).net, "0KB");
}

TEST(StatusBar, CpuLoadIsTheProcessShareOfAllProcessors) {
    double cpu = 0, wall = 100;
    CpuSampler sampler([&] { return cpu; }, [&] { return wall; }, 2);
    sampler.Start();
    cpu += 0.5;
    wall += 1;
    EXPECT_EQ(sampler.Sample(), 25) << "half a second of two processors' second";
    cpu += 4;
    wall += 1;
    EXPECT_EQ(sampler.Sample(), 100) << "capped";
    EXPECT_EQ(sampler.Sample(), 0) << "no time passed";
    wall -= 5;  // a clock that steps back gives nothing rather than nonsense
    EXPECT_EQ(sampler.Sample(), 0);
}

TEST(TreeRefresh, TheTaskReportsSuccessAndFailure) {
    std::vector<platform::Message> posted;
    tasks::RefreshEnvironment env;
    bool succeed = true;
    env.refresh = [&] { return succeed; };
    env.postNotify = [&](platform::Message m) {
        posted.push_back(std::move(m));
        return true;
    };
    platform::Message task(core::kTaskRefreshTree, 0, 0);
    tasks::HandleRefreshTree(task, env);
    succeed = false;
    tasks::HandleRefreshTree(task, env);
    env.refresh = nullptr;
    tasks::HandleRefreshTree(task, env);
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].id, core::kTreeRefreshed);
    EXPECT_EQ(posted[0].wParam, 0u);
    EXPECT_EQ(posted[1].wParam, 1u);
    EXPECT_EQ(posted[2].wParam, 1u);
}

TEST(TreeRefresh, CellsKeepTheirCamerasMarksOrLetThemGo) {
    using testing_support::CameraRow;
    auto kept = CameraRow("c1", "n1", "a", true);
    kept->live = true;
    kept->listening = true;
    kept->forwardingIp = "10.0.0.1";
    kept->forwardingPort = 9000;
    auto gone = CameraRow("c2", "n1", "b", true);
    gone->live = true;
    auto fresh = CameraRow("c1", "n1", "a", true);
    const auto result = MatchCellsAfterRefresh({{0, kept}, {5, gone}, {6, nullptr}}, [&](const std::string& id) {
        return id == "c1" ? fresh : nullptr;
    });
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].cell, 0);
    EXPECT_EQ(result[0].newRow, fresh);
    EXPECT_TRUE(fresh->live);
    EXPECT_TRUE(fresh->listening);
    EXPECT_FALSE(fresh->recording);
    EXPECT_EQ(fresh->forwardingIp, "10.0.0.1");
    EXPECT_EQ(result[1].cell, 5);
    EXPECT_EQ(result[1].newRow, nullptr);
}

// The kept wall goes through a file anyone could have edited: what makes no sense is
// dropped, and a file without a layout is no wall at all.
TEST(WallMemory, SavesWholeAndReadsOnlyWhatMakesSense) {
    testing_support::TempDir dir;
    platform::SetProgramDirectory(dir.Path());
    const std::string file = WallMemoryFile("Demo");
    EXPECT_EQ(file.rfind(dir.Path(), 0), 0u) << "in the settings folder";
    EXPECT_EQ(file.find("Demo"), std::string::npos) << "no user name in a path";
    EXPECT_TRUE(WallMemoryFile("").empty());
    EXPECT_FALSE(LoadWall(file)) << "no file yet";

    const SavedWall wall{9, 4, {{0, "31000001"}, {4, "31000007"}, {63, "a-b_c.9"}}};
    ASSERT_TRUE(SaveWall(file, wall));
    EXPECT_EQ(LoadWall(file), wall);
    const SavedWall fewer{1, 2, {{2, "7"}}};
    ASSERT_TRUE(SaveWall(file, fewer));  // written anew, not merged
    EXPECT_EQ(LoadWall(file), fewer);

    dir.Write("odd.ini",
              "[Wall]\r\nLayout=16\r\nSelected=99\nCell3=12\nCell3=13\nCell64=1\nCell-1=2\nCellx=3\n"
              "Cell5=../../etc\nCell6=\nCell7=a b\nCell1=8\nnoise\n=\nCell002=4\n");
    const std::optional<SavedWall> odd = LoadWall(dir.File("odd.ini"));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->layout, 16);
    EXPECT_EQ(odd->selected, 0);
    EXPECT_EQ(odd->cells, (std::vector<std::pair<int, std::string>>{{1, "8"}, {2, "4"}, {3, "12"}}));
    dir.Write("nolayout.ini", "[Wall]\nLayout=7\nCell1=8\n");
    EXPECT_FALSE(LoadWall(dir.File("nolayout.ini")));
    dir.Write("huge.ini", "[Wall]\nLayout=4\n" + std::string(100000, 'x'));
    EXPECT_FALSE(LoadWall(dir.File("huge.ini")));
    platform::SetProgramDirectory("");
}
