// Packing of decoded planes into the Y, V, U layout, and the handle registry.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "vdec/handle_registry.h"
#include "vdec/picture_copy.h"

namespace {

using vdec::ChromaLayout;
using vdec::PackedPictureSize;
using vdec::PackYv12;
using vdec::SourcePicture;

// A plane of `columns` x `rows` with `padding` bytes after every row, whose sample at
// (x, y) is base + y * 16 + x, and padding bytes of 0xEE that must never be copied.
struct Plane {
    Plane(int columns, int rows, int padding, int base) : stride(columns + padding) {
        bytes.assign(static_cast<std::size_t>(stride) * rows, 0xEE);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < columns; ++x) bytes[y * stride + x] = static_cast<std::uint8_t>(base + y * 16 + x);
    }
    std::vector<std::uint8_t> bytes;
    int stride;
};

SourcePicture Source(int width, int height, ChromaLayout chroma, const Plane& y, const Plane& u, const Plane& v) {
    SourcePicture source;
    source.width = width;
    source.height = height;
    source.chroma = chroma;
    source.planes[0] = y.bytes.data();
    source.planes[1] = u.bytes.data();
    source.planes[2] = v.bytes.data();
    source.strides[0] = y.stride;
    source.strides[1] = u.stride;
    source.strides[2] = v.stride;
    return source;
}

TEST(PackYv12, OddSizeKeepsIntegerDivisionOffsetsAndSkipsRowPadding) {
    // 5 x 3: chroma planes 2 x 1; V at 15, U at 15 * 5 / 4 = 18; total 22 bytes.
    ASSERT_EQ(PackedPictureSize(5, 3), 22u);
    const Plane y(5, 3, 11, 0x00), u(3, 2, 5, 0x40), v(3, 2, 7, 0x80);
    std::vector<std::uint8_t> out(22, 0x11);
    PackYv12(Source(5, 3, ChromaLayout::k420, y, u, v), out.data());
    const std::vector<std::uint8_t> expected = {
        0x00, 0x01, 0x02, 0x03, 0x04, 0x10, 0x11, 0x12, 0x13, 0x14, 0x20, 0x21, 0x22, 0x23, 0x24,  // Y
        0x80, 0x81,                                                                                // V
        0x11,                                                                                      // gap
        0x40, 0x41,                                                                                // U
        0x11, 0x11};
    EXPECT_EQ(out, expected);
}

TEST(PackYv12, BottomUpPlanesWithNegativeStrides) {
    const Plane y(4, 2, 4, 0x00), u(2, 1, 2, 0x40), v(2, 1, 2, 0x80);
    SourcePicture source = Source(4, 2, ChromaLayout::k420, y, u, v);
    // Last row first in memory: start at the last row and step backwards.
    source.planes[0] = y.bytes.data() + y.stride;
    source.strides[0] = -y.stride;
    std::vector<std::uint8_t> out(PackedPictureSize(4, 2));
    PackYv12(source, out.data());
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x10, 0x11, 0x12, 0x13, 0x00, 0x01, 0x02, 0x03, 0x80, 0x81, 0x40, 0x41}));
}

TEST(PackYv12, FourTwoTwoAveragesVerticalPairsWithRounding) {
    const Plane y(4, 4, 0, 0), u(2, 4, 3, 0x40), v(2, 4, 1, 0x81);
    std::vector<std::uint8_t> out(PackedPictureSize(4, 4));
    PackYv12(Source(4, 4, ChromaLayout::k422, y, u, v), out.data());
    // Rows y and y+1 differ by 16, so the rounded mean is the top sample + 8.
    const std::vector<std::uint8_t> chroma(out.begin() + 16, out.end());
    EXPECT_EQ(chroma, (std::vector<std::uint8_t>{0x89, 0x8A, 0xA9, 0xAA, 0x48, 0x49, 0x68, 0x69}));
}

TEST(PackYv12, FourFourFourAveragesTwoByTwoBlocksWithRounding) {
    const Plane y(4, 2, 0, 0), u(4, 2, 2, 0x40), v(4, 2, 0, 0x80);
    std::vector<std::uint8_t> out(PackedPictureSize(4, 2));
    PackYv12(Source(4, 2, ChromaLayout::k444, y, u, v), out.data());
    // Block mean of b, b+1, b+16, b+17 is b + 8.5, rounded up.
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 8, out.end()), (std::vector<std::uint8_t>{0x89, 0x8B, 0x49, 0x4B}));
}

TEST(PackYv12, SizesThatAreNotPositiveNeedNoBytes) {
    EXPECT_EQ(PackedPictureSize(0, 288), 0u);
    EXPECT_EQ(PackedPictureSize(352, -2), 0u);
    EXPECT_EQ(PackedPictureSize(16384, 16384), 402653184u);
}

// --- Handle registry -------------------------------------------------------------

TEST(HandleRegistry, HandlesAreFreshNonZeroAndReleasedOnce) {
    vdec::HandleRegistry<int> registry;
    const auto first = registry.Insert(std::make_shared<int>(1));
    const auto second = registry.Insert(std::make_shared<int>(2));
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 2u);
    EXPECT_EQ(*registry.Find(second), 2);
    EXPECT_EQ(registry.Find(0), nullptr);
    EXPECT_NE(registry.Remove(first), nullptr);
    EXPECT_EQ(registry.Remove(first), nullptr);
    EXPECT_EQ(registry.Find(first), nullptr);
    EXPECT_EQ(registry.Insert(std::make_shared<int>(3)), 3u) << "released handles are not reused";
}

TEST(HandleRegistry, WrappingCounterSkipsZeroAndHandlesInUse) {
    using Small = std::uint8_t;
    vdec::HandleRegistry<int, Small> registry(1);
    for (int i = 1; i <= 255; ++i) ASSERT_EQ(registry.Insert(std::make_shared<int>(i)), static_cast<Small>(i));
    EXPECT_EQ(registry.Insert(std::make_shared<int>(0)), 0) << "every handle is taken";
    registry.Remove(7);
    registry.Remove(200);
    EXPECT_EQ(registry.Insert(std::make_shared<int>(0)), 7);
    EXPECT_EQ(registry.Insert(std::make_shared<int>(0)), 200);
    EXPECT_EQ(registry.Size(), 255u);
}

TEST(HandleRegistry, AnObjectOutlivesItsRemovalWhileSomeoneUsesIt) {
    vdec::HandleRegistry<int> registry;
    const auto handle = registry.Insert(std::make_shared<int>(42));
    std::shared_ptr<int> inUse = registry.Find(handle);
    std::weak_ptr<int> watch = inUse;
    registry.Remove(handle);
    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(*inUse, 42);
    inUse.reset();
    EXPECT_TRUE(watch.expired());
}

}  // namespace
