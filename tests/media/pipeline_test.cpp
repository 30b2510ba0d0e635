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

using namespace std::chrono_literals;
using Ms = std::chrono::duration<double, std::milli>;

TEST(PlayPacing, FrameStepIsIntervalPlusSmoothingOrACatchUp) {
    EXPECT_EQ(FrameStep(25, 0), 70ms) << "25 fps, empty queue";
    EXPECT_EQ(FrameStep(25, 60), 40ms) << "25 fps, 60 queued";
    EXPECT_EQ(FrameStep(25, kCatchUpDepth - 1), 40ms);
    EXPECT_EQ(FrameStep(25, kCatchUpDepth), 30ms) << "far behind: four thirds of the rate";
    EXPECT_EQ(FrameStep(25, 15), 65ms);
    EXPECT_NEAR(Ms(FrameStep(3, 50)).count(), 1000.0 / 3, 1e-3) << "no whole-millisecond rounding";
    EXPECT_EQ(FrameStep(1, 0), 1030ms) << "a one-frame-a-second stream keeps its pace";
}

namespace {
const PaceClock::time_point kT0{};  // the test's clock starts here
}  // namespace

TEST(PlayPacing, StartsAfterFortyAndRepaintsFromThe126thEmptyCycle) {
    PlayPacer pacer(kT0);
    EXPECT_EQ(pacer.Due(), kT0 + 40ms);
    PaceClock::time_point now = pacer.Due();
    for (int cycle = 1; cycle <= 125; ++cycle) {
        EXPECT_FALSE(pacer.AfterCycle(0, 0, now, now + 1ms)) << "cycle " << cycle;
        EXPECT_EQ(pacer.Due(), now + 41ms) << "40 ms after an empty cycle";
        now = pacer.Due();
    }
    EXPECT_TRUE(pacer.AfterCycle(0, 0, now, now)) << "cycle 126";
    EXPECT_TRUE(pacer.AfterCycle(0, 0, now, now)) << "and every further empty cycle";
    now = pacer.Due();
    EXPECT_FALSE(pacer.AfterCycle(25, 0, now, now + 3ms)) << "a frame resets the count";
    EXPECT_EQ(pacer.Due(), now + 70ms) << "counted from when the frame was due, not from its end";
    EXPECT_EQ(pacer.IdleCycles(), 0u);
}

TEST(PlayPacing, ProcessingAndLateWakeUpsDoNotSlowThePace) {
    // 1.7 ms of work per frame and every wake-up 0.4 ms late: with a steady queue the
    // stream still plays at exactly 25 frames a second.
    PlayPacer pacer(kT0);
    PaceClock::time_point firstShown{}, now{};
    constexpr int kFrames = 25 * 600;
    for (int frame = 0; frame < kFrames; ++frame) {
        now = std::max(now, pacer.Due()) + 400us;
        if (frame == 0) firstShown = now;
        pacer.AfterCycle(25, 60, now, now + 1700us);
        now += 1700us;
    }
    const double mean = Ms(now - 1700us - firstShown).count() / (kFrames - 1);
    EXPECT_NEAR(mean, 40.0, 0.001);
}

TEST(PlayPacing, AnOverrunWaitsFortyAndAHeldUpThreadStartsANewRhythm) {
    PlayPacer pacer(kT0);
    PaceClock::time_point now = pacer.Due();
    pacer.AfterCycle(25, 60, now, now + 41ms);
    EXPECT_EQ(pacer.Due(), now + 41ms + 40ms) << "processing took longer than the frame time";

    now = pacer.Due();
    pacer.AfterCycle(25, 60, now + 30ms, now + 31ms);
    EXPECT_EQ(pacer.Due(), now + 40ms) << "less than a frame late: keep the rhythm and catch up";

    now = pacer.Due();
    pacer.AfterCycle(25, 60, now + 300ms, now + 301ms);
    EXPECT_EQ(pacer.Due(), now + 340ms) << "held up: no burst of frames to make up for it";
}

namespace {

// A live camera against the play thread, on a simulated clock: packets arrive in
// bursts (the network), the queue drops at its high-water mark the way the video
// queue does, and each shown frame costs some processing time.
struct LiveRun {
    double shownPerSecond = 0;
    std::size_t dropped = 0;
    std::size_t deepest = 0;
    std::size_t finalDepth = 0;
};

LiveRun PlayLive(double sourceFps, std::chrono::seconds length, PaceClock::duration stallAt = {},
                 PaceClock::duration stallFor = {}) {
    constexpr std::size_t kHighWater = 100;
    const auto sourcePeriod = std::chrono::duration_cast<PaceClock::duration>(std::chrono::duration<double>(1.0 / sourceFps));
    PlayPacer pacer(kT0);
    std::size_t sent = 0, depth = 0, shown = 0;
    LiveRun run;
    PaceClock::time_point now = kT0;
    const PaceClock::time_point end = kT0 + length;
    auto arrive = [&](PaceClock::time_point until) {
        // Packets leave every period and arrive in pairs (the second one is held back).
        for (;;) {
            const PaceClock::time_point leaves = kT0 + static_cast<long long>(sent) * sourcePeriod;
            const PaceClock::time_point arrives = sent % 2 == 0 ? leaves + sourcePeriod : leaves;
            if (arrives > until) return;
            ++sent;
            if (depth > kHighWater) {
                run.dropped += depth;
                depth = 0;
            }
            ++depth;
            run.deepest = std::max(run.deepest, depth);
        }
    };
    while (now < end) {
        now = std::max(now, pacer.Due()) + 300us;
        if (stallFor.count() > 0 && now >= kT0 + stallAt && now < kT0 + stallAt + stallFor) now = kT0 + stallAt + stallFor;
        arrive(now);
        const std::size_t queued = depth;
        int fps = 0;
        if (depth > 0) {
            --depth;
            ++shown;
            fps = 25;
        }
        pacer.AfterCycle(fps, queued, now, now + 1500us);
        now += 1500us;
    }
    run.shownPerSecond = shown / std::chrono::duration<double>(length).count();
    run.finalDepth = depth;
    return run;
}

}  // namespace

TEST(PlayPacing, ALiveStreamBuildsItsReserveThenPlaysAtFullRateWithoutDrops) {
    const LiveRun run = PlayLive(25.0, std::chrono::seconds(600));
    EXPECT_EQ(run.dropped, 0u);
    EXPECT_LT(run.deepest, kCatchUpDepth) << "the reserve stays where the smoothing puts it";
    EXPECT_GE(run.finalDepth, 40u);
    EXPECT_NEAR(run.shownPerSecond, 25.0 - 50.0 / 600, 0.02) << "every frame but the reserve shown";
}

TEST(PlayPacing, AFastSenderClockOrAStallIsCaughtUpWithoutDrops) {
    const LiveRun fast = PlayLive(25.5, std::chrono::seconds(600));
    EXPECT_EQ(fast.dropped, 0u) << "2 % fast for ten minutes";
    EXPECT_LE(fast.deepest, kCatchUpDepth + 2);

    const LiveRun stalled = PlayLive(25.0, std::chrono::seconds(120), std::chrono::seconds(60), std::chrono::milliseconds(1500));
    EXPECT_EQ(stalled.dropped, 0u) << "one and a half seconds without the play thread";
    EXPECT_LE(stalled.finalDepth, kCatchUpDepth) << "the backlog is worked off";
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
