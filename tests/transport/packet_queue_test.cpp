#include <gtest/gtest.h>

#include <algorithm>

#include "transport/packet_queue.h"

using transport::MediaPacket;
using transport::PacketQueue;

namespace {
// A stored video packet whose first NAL unit has the given type.
PacketQueue::Record VideoRecord(PacketQueue& queue, std::uint8_t nalType, std::uint8_t tag) {
    auto record = queue.TakeFree();
    std::uint8_t header[12] = {3, 0, tag, 0};
    std::uint8_t payload[6] = {0, 0, 0, 1, nalType, tag};
    record->Store(header, sizeof header, payload, sizeof payload);
    return record;
}
}  // namespace

TEST(PacketQueue, VideoOverflowKeepsOnlyKeyFramesThenAppends) {
    PacketQueue queue;
    queue.Push(VideoRecord(queue, 5, 0), true);  // oldest: a key frame
    for (int i = 1; i <= 100; ++i) queue.Push(VideoRecord(queue, 1, static_cast<std::uint8_t>(i)), true);
    ASSERT_EQ(queue.Size(), 101u);
    queue.Push(VideoRecord(queue, 1, 200), true);
    ASSERT_EQ(queue.Size(), 2u);
    auto first = queue.Pop();
    EXPECT_TRUE(first->IsKeyFrame());
    EXPECT_EQ(queue.Pop()->Sequence(), 200);
    EXPECT_EQ(queue.Spares(), 100u) << "dropped records go back to the free list";
}

// An all-intra camera with a slow consumer: only key frames arrive, so the key-frame
// rule alone would keep them all. The queue stays bounded, keeps the newest pictures
// in order, and the oldest one kept still carries the parameter sets.
TEST(PacketQueue, KeyFramesOnlyStreamStaysBoundedAndDecodable) {
    PacketQueue queue;
    queue.Push(VideoRecord(queue, 0x67, 0), true);  // parameter sets once, then IDR pictures only
    std::size_t largest = 0;
    for (int i = 1; i <= 1000; ++i) {
        queue.Push(VideoRecord(queue, 0x65, static_cast<std::uint8_t>(i)), true);
        largest = std::max(largest, queue.Size());
    }
    EXPECT_LE(largest, PacketQueue::kHighWater + 1);
    auto first = queue.Pop();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->CarriesParameterSets()) << "the decoder could not start on what is left";
    std::uint8_t expected = 0;
    int pictures = 0;
    for (auto record = queue.Pop(); record; record = queue.Pop(), ++pictures) {
        if (pictures > 0) {
            EXPECT_EQ(record->Sequence(), static_cast<std::uint8_t>(expected + 1)) << "oldest dropped, order kept";
        }
        expected = static_cast<std::uint8_t>(record->Sequence());
    }
    EXPECT_EQ(expected, static_cast<std::uint8_t>(1000)) << "the newest picture is kept";
    EXPECT_GE(pictures, static_cast<int>(PacketQueue::kKeptKeyFrames));
    EXPECT_LE(queue.Spares(), PacketQueue::kMaxSpares);

    // Every picture with its own parameter sets: nothing needs to stay in front.
    for (int i = 0; i < 500; ++i) queue.Push(VideoRecord(queue, 0x67, static_cast<std::uint8_t>(i)), true);
    EXPECT_LE(queue.Size(), PacketQueue::kHighWater + 1);
}

TEST(PacketQueue, SequenceParameterSetCountsAsKeyFrame) {
    PacketQueue queue;
    EXPECT_TRUE(VideoRecord(queue, 0x67, 0)->IsKeyFrame());
    EXPECT_TRUE(VideoRecord(queue, 0x65, 0)->IsKeyFrame());
    EXPECT_FALSE(VideoRecord(queue, 0x41, 0)->IsKeyFrame());
}

TEST(PacketQueue, AudioOverflowDropsEverythingQueued) {
    PacketQueue queue;
    for (int i = 0; i < 101; ++i) queue.Push(VideoRecord(queue, 5, 1), false);
    queue.Push(VideoRecord(queue, 5, 9), false);
    ASSERT_EQ(queue.Size(), 1u);
    EXPECT_EQ(queue.Pop()->Sequence(), 9);
}

TEST(PacketQueue, FreeListKeepsAtMostAHundredAndRecyclesBuffers) {
    PacketQueue queue;
    std::vector<PacketQueue::Record> taken;
    for (int i = 0; i < 150; ++i) taken.push_back(queue.TakeFree());
    for (auto& record : taken) queue.Release(std::move(record));
    EXPECT_EQ(queue.Spares(), 100u);
    EXPECT_FALSE(queue.Push(nullptr, true));
    queue.Clear();
    EXPECT_EQ(queue.Spares(), 0u);
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(MediaPacket, BufferGrowsToExactLengthAndIsReusedWhenShorter) {
    MediaPacket packet;
    std::vector<std::uint8_t> big(500, 1), small(20, 2);
    std::uint8_t header[12] = {};
    packet.Store(header, 12, big.data(), big.size());
    EXPECT_EQ(packet.buffer.size(), 512u);
    const std::uint8_t* storage = packet.buffer.data();
    packet.Store(header, 12, small.data(), small.size());
    EXPECT_EQ(packet.length, 32u);
    EXPECT_EQ(packet.buffer.data(), storage);
    EXPECT_EQ(packet.PayloadLength(), 20u);
}
