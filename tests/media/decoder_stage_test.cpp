// The decode stage on vdec: pictures, buffer sizes, streams that lie about their
// size, the recorder hand-off and replay reports.
#include <gtest/gtest.h>

#include <cstring>

#include "media/decoder_stage.h"
#include "media_test_support.h"

using namespace media;
using media_testing::ClipOf;
using media_testing::FakeHost;
using media_testing::PushVideo;

namespace {

// Runs the stage over every queued packet; the pictures it produced, as (width, height).
std::vector<std::pair<int, int>> DecodeAll(CDoDecoder& decoder, FakeHost& host, StageFrame& frame,
                                           std::vector<std::string>* pictures = nullptr) {
    std::vector<std::pair<int, int>> shown;
    while (host.queue.Size() > 0) {
        if (!decoder.Process(frame)) continue;
        shown.emplace_back(frame.width, frame.height);
        EXPECT_EQ(frame.hasPicture, 1);
        EXPECT_GE(decoder.BufferBytes(), PictureBytes(frame.width, frame.height)) << "the picture fits its buffer";
        if (pictures)
            pictures->emplace_back(reinterpret_cast<const char*>(frame.picture), PictureBytes(frame.width, frame.height));
    }
    return shown;
}

// The reference picture (Y, U, V) in the decoder's plane order (Y, V, U).
std::string AsYvu(const media_testing::Clip& clip, std::size_t index) {
    const std::size_t area = static_cast<std::size_t>(clip.width) * clip.height;
    const char* i420 = reinterpret_cast<const char*>(clip.ReferencePicture(index));
    return std::string(i420, area) + std::string(i420 + area * 5 / 4, area / 4) + std::string(i420 + area, area / 4);
}

}  // namespace

TEST(DecodeStage, DecodesEveryPacketIntoItsBufferAsFfmpegDoes) {
    const auto& clip = ClipOf(352, 288);
    ASSERT_FALSE(clip.units.empty());
    FakeHost host;
    CDoDecoder decoder(host);
    ASSERT_TRUE(decoder.Init());
    ASSERT_NE(decoder.Handle(), 0u);
    for (const auto& unit : clip.units) PushVideo(host.queue, unit, 352, 288, 25);
    StageFrame frame;
    std::vector<std::string> pictures;
    const auto shown = DecodeAll(decoder, host, frame, &pictures);
    ASSERT_EQ(shown.size(), clip.ReferenceCount());
    EXPECT_EQ(decoder.BufferBytes(), 152064u);
    EXPECT_EQ(frame.frameRate, 25);
    EXPECT_GT(frame.consumed, 0);
    for (std::size_t i = 0; i < pictures.size(); ++i) EXPECT_EQ(pictures[i], AsYvu(clip, i)) << "picture " << i;
    EXPECT_EQ(host.queue.Spares(), clip.units.size()) << "every packet went back to the free list";
}

TEST(DecodeStage, SizeChangeReallocatesBeforeDecoding) {
    FakeHost host;
    CDoDecoder decoder(host);
    decoder.Init();
    StageFrame frame;
    for (const auto& unit : ClipOf(704, 576, 5).units) PushVideo(host.queue, unit, 704, 576);
    EXPECT_EQ(DecodeAll(decoder, host, frame).back(), std::make_pair(704, 576));
    EXPECT_EQ(decoder.BufferBytes(), 608256u);

    PushVideo(host.queue, ClipOf(352, 288, 5).units[0], 352, 288);
    ASSERT_TRUE(decoder.Process(frame));
    EXPECT_EQ(decoder.BufferBytes(), 152064u);
    EXPECT_EQ(frame.width, 352);
    EXPECT_EQ(frame.height, 288);
}

TEST(DecodeStage, ReallocationNeverLeavesTheFramePointingAtTheOldBuffer) {
    FakeHost host;
    CDoDecoder decoder(host);
    decoder.Init();
    StageFrame frame;
    PushVideo(host.queue, ClipOf(352, 288, 5).units[0], 352, 288);
    ASSERT_TRUE(decoder.Process(frame));
    ASSERT_NE(frame.picture, nullptr);
    // A packet of another size that does not decode: the old buffer is gone, and
    // a repaint must not find it through the frame.
    PushVideo(host.queue, std::string("\x00\x00\x00\x01\x09\xF0", 6), 704, 576);
    EXPECT_FALSE(decoder.Process(frame));
    EXPECT_EQ(frame.picture, nullptr);
    EXPECT_EQ(frame.consumed, 0);
}

TEST(DecodeStage, UnusableSizesAndPacketsAreDropped) {
    FakeHost host;
    CDoDecoder decoder(host);
    decoder.Init();
    StageFrame frame;
    const std::string& unit = ClipOf(352, 288, 5).units[0];
    PushVideo(host.queue, unit, 0, 288);
    PushVideo(host.queue, unit, 352, 0);
    PushVideo(host.queue, unit, 0xFFFFFFFFu, 0xFFFFFFFFu);  // a description from the network
    PushVideo(host.queue, unit, 9000, 9000);
    PushVideo(host.queue, "", 352, 288);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(decoder.Process(frame)) << "packet " << i;
    EXPECT_EQ(host.queue.Size(), 0u);
    EXPECT_EQ(decoder.BufferBytes(), 0u) << "nothing allocated for them";
    EXPECT_FALSE(decoder.Process(frame)) << "an empty queue";
}

// The stream says 352 x 288 but carries 704 x 576: never written past the buffer
// (the sanitizer build checks), shown at its real size from the second picture on.
TEST(DecodeStage, StreamLargerThanAnnouncedIsShownAtItsRealSizeOrDropped) {
    const auto& clip = ClipOf(704, 576, 10);
    FakeHost host;
    CDoDecoder decoder(host);
    decoder.Init();
    for (const auto& unit : clip.units) PushVideo(host.queue, unit, 352, 288);
    StageFrame frame;
    std::vector<std::string> pictures;
    const auto shown = DecodeAll(decoder, host, frame, &pictures);
    ASSERT_EQ(shown.size(), clip.units.size() - 1) << "only the first picture is lost";
    for (auto size : shown) EXPECT_EQ(size, std::make_pair(704, 576));
    EXPECT_EQ(decoder.BufferBytes(), 608256u);
    EXPECT_EQ(pictures.back(), AsYvu(clip, clip.ReferenceCount() - 1));
}

TEST(DecodeStage, StreamSmallerThanAnnouncedIsShownAtItsRealSize) {
    const auto& clip = ClipOf(352, 288, 5);
    FakeHost host;
    CDoDecoder decoder(host);
    decoder.Init();
    for (const auto& unit : clip.units) PushVideo(host.queue, unit, 704, 576);
    StageFrame frame;
    const auto shown = DecodeAll(decoder, host, frame);
    ASSERT_EQ(shown.size(), clip.units.size());
    EXPECT_EQ(shown.back(), std::make_pair(352, 288));
}

TEST(DecodeStage, WithoutADecoderNothingIsShown) {
    FakeHost host;
    CDoDecoder decoder(host);
    decoder.Init();
    decoder.Release();
    EXPECT_EQ(decoder.Handle(), 0u);
    PushVideo(host.queue, ClipOf(352, 288, 5).units[0], 352, 288);
    StageFrame frame;
    EXPECT_FALSE(decoder.Process(frame));
    EXPECT_EQ(host.queue.Size(), 0u);
}

TEST(DecodeStage, RecordingHandsEveryPacketToTheRecorderWithItsKeyFrameMark) {
    const auto& clip = ClipOf(352, 288, 5);
    FakeHost host;
    host.recording = true;
    CDoDecoder decoder(host);
    decoder.Init();
    for (const auto& unit : clip.units) PushVideo(host.queue, unit, 352, 288, 25);
    PushVideo(host.queue, clip.units[1], 0, 0, 25);  // handed over even when it cannot be decoded
    StageFrame frame;
    DecodeAll(decoder, host, frame);
    ASSERT_EQ(host.recorded.size(), clip.units.size() + 1);
    const auto& first = host.recorded[0];
    EXPECT_EQ(first.data, clip.units[0]);
    EXPECT_EQ(static_cast<unsigned char>(first.data[4]) & 0x1F, 7) << "the first unit starts with an SPS";
    EXPECT_EQ(first.keyFrame, 1);
    EXPECT_EQ(first.width, 352);
    EXPECT_EQ(first.frameRate, 25);
    EXPECT_EQ(host.recorded[1].keyFrame, 0);
    EXPECT_EQ(frame.keyFrame, 0) << "the chain's frame never carries the mark";

    host.recording = false;
    PushVideo(host.queue, clip.units[0], 352, 288);
    decoder.Process(frame);
    EXPECT_EQ(host.recorded.size(), clip.units.size() + 1);
}

TEST(DecodeStage, ReplayPausedLeavesPacketsQueuedAndReportsTimesWhenPlaying) {
    const auto& clip = ClipOf(352, 288, 5);
    FakeHost host;
    host.replay = true;
    host.paused = true;
    CDoDecoder decoder(host);
    decoder.Init();
    const std::uint64_t when = 1400000000123ull;  // ms
    PushVideo(host.queue, clip.units[0], 352, 288, 25, when);
    StageFrame frame;
    EXPECT_FALSE(decoder.Process(frame));
    EXPECT_EQ(host.queue.Size(), 1u);

    host.paused = false;
    ASSERT_TRUE(decoder.Process(frame));
    ASSERT_EQ(host.times.size(), 1u);
    EXPECT_EQ(host.times[0], ReplayTimeText(when));
    EXPECT_EQ(host.times[0].size(), 19u);

    host.paused = true;
    host.replay = false;
    PushVideo(host.queue, clip.units[1], 352, 288);
    EXPECT_TRUE(decoder.Process(frame)) << "pausing means nothing outside replay";
    EXPECT_EQ(host.times.size(), 1u);
}
