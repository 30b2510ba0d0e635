// The pacing rule, the stage chain and the play thread.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "media/play_pacing.h"
#include "media/play_thread.h"
#include "media/stage_chain.h"
#include "media_test_support.h"

using namespace media;

TEST(PlayPacing, SmoothingDelayFollowsQueueDepth) {
    const std::pair<std::size_t, std::uint32_t> cases[] = {{0, 30},  {9, 30},  {10, 25}, {19, 25}, {20, 20}, {29, 20},
                                                           {30, 15}, {39, 15}, {40, 10}, {49, 10}, {50, 0},  {500, 0}};
    for (auto [depth, delay] : cases) EXPECT_EQ(SmoothingDelayMs(depth), delay) << depth << " queued";
}

TEST(PlayPacing, FrameWaitIsIntervalPlusSmoothingLessProcessing) {
    EXPECT_EQ(FrameWaitMs(25, SmoothingDelayMs(0), 0), 70u) << "25 fps, empty queue";
    EXPECT_EQ(FrameWaitMs(25, SmoothingDelayMs(60), 0), 40u) << "25 fps, 60 queued";
    EXPECT_EQ(FrameWaitMs(25, 30, 12), 58u);
    EXPECT_EQ(FrameWaitMs(3, 0, 0), 333u) << "integer division";
}

TEST(PlayPacing, UnsignedRuleGivesFortyOrFive) {
    EXPECT_EQ(FrameWaitMs(25, 0, 41), 40u) << "slower than the frame interval wraps and becomes 40";
    EXPECT_EQ(FrameWaitMs(25, 30, 5000), 40u);
    EXPECT_EQ(FrameWaitMs(1, 30, 0), 40u) << "1030 ms exceeds 1000";
    EXPECT_EQ(FrameWaitMs(1, 0, 0), 1000u) << "exactly 1000 stays";
    EXPECT_EQ(FrameWaitMs(25, 0, 40), 5u) << "exactly 0 becomes 5";
    EXPECT_EQ(FrameWaitMs(25, 30, 70), 5u);
}

TEST(PlayPacing, StartsAtFortyAndRepaintsFromThe126thEmptyCycle) {
    PlayPacer pacer;
    EXPECT_EQ(pacer.Wait(), 40u);
    for (int cycle = 1; cycle <= 125; ++cycle) {
        EXPECT_FALSE(pacer.AfterCycle(0, 30, 0)) << "cycle " << cycle;
        EXPECT_EQ(pacer.Wait(), 40u);
    }
    EXPECT_TRUE(pacer.AfterCycle(0, 30, 0)) << "cycle 126";
    EXPECT_TRUE(pacer.AfterCycle(0, 30, 0)) << "and every further empty cycle";
    EXPECT_FALSE(pacer.AfterCycle(25, 30, 3)) << "a frame resets the count";
    EXPECT_EQ(pacer.Wait(), 67u);
    EXPECT_EQ(pacer.IdleCycles(), 0u);
    EXPECT_FALSE(pacer.AfterCycle(0, 30, 0));
}

namespace {

// A stage that records what it saw and answers as told.
class ScriptedStage final : public CDoHandle {
public:
    ScriptedStage(StageHost& host, std::vector<std::string>& journal, std::string name, bool accept = true)
        : CDoHandle(host), journal_(journal), name_(std::move(name)), accept_(accept) {}
    ~ScriptedStage() override { journal_.push_back(name_ + ".destroy"); }
    bool Init() override { return true; }
    bool Release() override {
        journal_.push_back(name_ + ".release");
        return true;
    }
    bool Process(StageFrame& frame) override {
        journal_.push_back(name_ + ".process");
        return accept_;
    }

private:
    std::vector<std::string>& journal_;
    std::string name_;
    bool accept_;
};

}  // namespace

TEST(StageChain, RunOnceStopsAtTheFirstRefusalAndReturnsTheFrameRate) {
    media_testing::FakeHost host;
    std::vector<std::string> journal;
    StageChain chain;
    chain.Append(std::make_unique<ScriptedStage>(host, journal, "decode"));
    chain.Append(std::make_unique<ScriptedStage>(host, journal, "mix", false));
    chain.Append(std::make_unique<ScriptedStage>(host, journal, "show"), true);
    chain.Frame().frameRate = 25;
    EXPECT_EQ(chain.RunOnce(), 0);
    EXPECT_EQ(journal, (std::vector<std::string>{"decode.process", "mix.process"}));

    StageChain accepting;
    accepting.Append(std::make_unique<ScriptedStage>(host, journal, "a"));
    accepting.Frame().frameRate = 12;
    EXPECT_EQ(accepting.RunOnce(), 12);
}

TEST(StageChain, RepaintNeedsAPictureThatWasConsumed) {
    media_testing::FakeHost host;
    std::vector<std::string> journal;
    StageChain chain;
    chain.Append(std::make_unique<ScriptedStage>(host, journal, "decode"));
    chain.Append(std::make_unique<ScriptedStage>(host, journal, "show"), true);
    std::uint8_t picture[6] = {};
    chain.Repaint();
    chain.Frame().picture = picture;
    chain.Repaint();
    EXPECT_TRUE(journal.empty()) << "no consumed bytes yet";
    chain.Frame().consumed = 100;
    chain.Repaint();
    EXPECT_EQ(journal, std::vector<std::string>{"show.process"}) << "only the display stage";
}

TEST(StageChain, ClearStagesReleasesThenDestroysInOrder) {
    media_testing::FakeHost host;
    std::vector<std::string> journal;
    StageChain chain;
    chain.Append(std::make_unique<ScriptedStage>(host, journal, "decode"));
    chain.Append(std::make_unique<ScriptedStage>(host, journal, "show"), true);
    chain.ClearStages();
    EXPECT_EQ(journal, (std::vector<std::string>{"decode.release", "decode.destroy", "show.release", "show.destroy"}));
    EXPECT_EQ(chain.Size(), 0u);
    chain.Frame().picture = reinterpret_cast<std::uint8_t*>(&journal);
    chain.Frame().consumed = 1;
    chain.Repaint();  // no display stage any more
    EXPECT_EQ(journal.size(), 4u);
}

namespace {

// Takes one packet per pass, the way the decode stage does, and notes when.
class PacketTaker final : public CDoHandle {
public:
    explicit PacketTaker(StageHost& host) : CDoHandle(host) {}
    bool Init() override { return true; }
    bool Release() override { return true; }
    bool Process(StageFrame& frame) override {
        auto packet = host_.VideoQueue().Pop();
        if (!packet) return false;
        frame.frameRate = static_cast<int>(packet->info.RateOrChannels());
        host_.VideoQueue().Release(std::move(packet));
        std::lock_guard lock(mutex);
        times.push_back(std::chrono::steady_clock::now());
        return true;
    }
    double MeanIntervalMs() {
        std::lock_guard lock(mutex);
        if (times.size() < 2) return 0;
        return std::chrono::duration<double, std::milli>(times.back() - times.front()).count() / (times.size() - 1);
    }
    std::size_t Count() {
        std::lock_guard lock(mutex);
        return times.size();
    }
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> times;
};

const std::string kSlice("\x00\x00\x00\x01\x41", 5);

double PlayAndMeasure(std::size_t queued, std::size_t frames) {
    media_testing::FakeHost host;
    for (std::size_t i = 0; i < queued; ++i) media_testing::PushVideo(host.queue, kSlice, 352, 288, 25);
    StageChain chain;
    auto taker = std::make_unique<PacketTaker>(host);
    PacketTaker* probe = taker.get();
    chain.Append(std::move(taker));
    PlayThread player(chain, host.queue);
    player.Start();
    // Keep the depth steady: top the queue up as frames are taken.
    while (probe->Count() < frames) {
        while (queued > 0 && host.queue.Size() < queued)
            media_testing::PushVideo(host.queue, kSlice, 352, 288, 25);
        if (queued == 0 && host.queue.Size() == 0)
            media_testing::PushVideo(host.queue, kSlice, 352, 288, 25);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    player.Stop();
    return probe->MeanIntervalMs();
}

}  // namespace

// The pacing arithmetic is pinned above; this checks that the play thread applies it.
// A busy machine can only lengthen the waits, so the lower bounds are firm and the
// upper ones loose.
TEST(PlayThread, PacesAt70msWithAnEmptyQueueAnd40msWith60Queued) {
    const double sparse = PlayAndMeasure(0, 8);
    EXPECT_GE(sparse, 62.0);
    EXPECT_LT(sparse, 130.0);
    const double deep = PlayAndMeasure(60, 10);
    EXPECT_GE(deep, 35.0);
    EXPECT_LT(deep, 90.0);
}

TEST(PlayThread, StopsWithinOneWait) {
    media_testing::FakeHost host;
    StageChain chain;
    PlayThread player(chain, host.queue);
    ASSERT_TRUE(player.Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto start = std::chrono::steady_clock::now();
    player.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(player.IsRunning());
}
