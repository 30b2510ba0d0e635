// The wall's geometry rules, exactly.
#include <gtest/gtest.h>

#include "wall/layout_geometry.h"

using namespace wall;

namespace {
CellBox Box(int count, int index, int shown = 0) {
    auto box = NormalCellBox(count, index, 804, 405, shown);
    EXPECT_TRUE(box) << "layout " << count << " cell " << index;
    return box.value_or(CellBox{});
}
}  // namespace

TEST(LayoutGeometry, SquareLayoutsOnTheDefaultWall) {
    EXPECT_EQ(Box(4, 0), (CellBox{1, 1, 401, 201}));
    EXPECT_EQ(Box(4, 1), (CellBox{405, 1, 805, 201}));
    EXPECT_EQ(Box(4, 2), (CellBox{1, 205, 401, 405}));
    EXPECT_EQ(Box(4, 3), (CellBox{405, 205, 805, 405}));
    // 9: (804 - 8) / 3 = 265, (405 - 8) / 3 = 132.
    EXPECT_EQ(Box(9, 4), (CellBox{270, 137, 535, 269}));
    EXPECT_EQ(Box(9, 8), (CellBox{539, 273, 804, 405}));
    // 64: (804 - 28) / 8 = 97, (405 - 28) / 8 = 47.
    EXPECT_EQ(Box(64, 0), (CellBox{1, 1, 98, 48}));
    EXPECT_EQ(Box(64, 63), (CellBox{7 * 101 + 1, 7 * 51 + 1, 7 * 101 + 98, 7 * 51 + 48}));
    EXPECT_FALSE(NormalCellBox(4, 4, 804, 405, 0));
    EXPECT_FALSE(NormalCellBox(16, 64, 804, 405, 0));
}

TEST(LayoutGeometry, LayoutOneShowsOnlyTheShownCellOverTheWholeArea) {
    EXPECT_EQ(Box(1, 5, 5), (CellBox{1, 1, 805, 406}));
    EXPECT_FALSE(NormalCellBox(1, 0, 804, 405, 5));
}

TEST(LayoutGeometry, LayoutsSixAndEight) {
    EXPECT_EQ(Box(6, 0), (CellBox{1, 1, 535, 269}));
    EXPECT_EQ(Box(6, 1), (CellBox{539, 1, 804, 133}));
    EXPECT_EQ(Box(6, 2), (CellBox{539, 137, 804, 269}));
    EXPECT_EQ(Box(6, 3), (CellBox{1, 273, 266, 405}));
    EXPECT_EQ(Box(6, 4), (CellBox{270, 273, 535, 405}));
    EXPECT_EQ(Box(6, 5), (CellBox{539, 273, 804, 405}));
    // 8: w = (804 - 12) / 4 = 198, h = (405 - 12) / 4 = 98.
    EXPECT_EQ(Box(8, 0), (CellBox{1, 1, 1 + 594 + 8, 1 + 294 + 8}));
    EXPECT_EQ(Box(8, 1), (CellBox{607, 1, 805, 99}));
    EXPECT_EQ(Box(8, 3), (CellBox{607, 205, 805, 303}));
    EXPECT_EQ(Box(8, 4), (CellBox{1, 307, 199, 405}));
    EXPECT_EQ(Box(8, 7), (CellBox{607, 307, 805, 405}));
}

TEST(LayoutGeometry, UnsupportedCountsHaveNoPlaces) {
    for (int count : {0, 2, 3, 5, 7, 10, 12, 65, 99, -4}) {
        EXPECT_FALSE(IsSupportedLayout(count)) << count;
        EXPECT_FALSE(NormalCellBox(count, 0, 804, 405, 0)) << count;
    }
    for (int count : {1, 4, 6, 8, 9, 16, 25, 36, 49, 64, 81, 100}) EXPECT_TRUE(IsSupportedLayout(count)) << count;
    // 100 places the 64 existing cells in a 10-column grid.
    EXPECT_TRUE(NormalCellBox(100, 63, 804, 405, 0));
}

TEST(LayoutGeometry, FullScreenPlacesOfSixAndEight) {
    // 1920 × 1080, k' = 2: a = (1920 - 12) / 3 = 636, b = (1080 - 12) / 3 = 356.
    auto six = [](int i) { return FullScreenCellBox(6, i, 1920, 1080, 0).value(); };
    EXPECT_EQ(six(0), (CellBox{3, 3, 3 + 1276, 3 + 716}));
    EXPECT_EQ(six(1), (CellBox{2 * 639 + 3, 3, 2 * 639 + 3 + 636, 3 + 356}));
    EXPECT_EQ(six(2), (CellBox{2 * 639 + 3, 359 + 3, 2 * 639 + 3 + 636, 359 + 3 + 356}));
    EXPECT_EQ(six(5), (CellBox{2 * 639 + 3, 2 * 359 + 3, 2 * 639 + 639, 2 * 359 + 359}));
    // k' = 3: a = (1920 - 15) / 4 = 476, b = (1080 - 15) / 4 = 266.
    auto eight = [](int i) { return FullScreenCellBox(8, i, 1920, 1080, 0).value(); };
    EXPECT_EQ(eight(0), (CellBox{3, 3, 3 + 3 * 476 + 8, 3 + 3 * 266 + 8}));
    EXPECT_EQ(eight(1), (CellBox{3 * 479 + 3, 3, 3 * 479 + 479, 3 + 266}));
    EXPECT_EQ(eight(4), (CellBox{3, 3 * 269 + 3, 479, 3 * 269 + 269}));
    EXPECT_EQ(eight(7), (CellBox{3 * 479 + 3, 3 * 269 + 3, 3 * 479 + 479, 3 * 269 + 269}));
    EXPECT_FALSE(FullScreenCellBox(8, 8, 1920, 1080, 0));
    EXPECT_EQ(FullScreenCellBox(1, 2, 1920, 1080, 2).value(), (CellBox{3, 3, 1917, 1077}));
    EXPECT_EQ(SingleCellFullScreenBox(1920, 1080), (CellBox{3, 3, 1917, 1077}));
}

TEST(LayoutGeometry, GrowthAndToolbar) {
    EXPECT_EQ(NextSquareLayout(4), 9);
    EXPECT_EQ(NextSquareLayout(6), 9);
    EXPECT_EQ(NextSquareLayout(8), 9);
    EXPECT_EQ(NextSquareLayout(1), 4);
    EXPECT_EQ(NextSquareLayout(49), 64);
    EXPECT_EQ(ToolbarBox(CellBox{1, 1, 401, 201}), (CellBox{1, 175, 401, 201}));
}
