#include "fv_gui/richtext/ViewGeometry.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace fv::richtext;

TEST(ViewGeometryTest, AlignmentTakesIntegerHalvesSeparately) {
    EXPECT_EQ(AlignedLeft(HAlign::Centre, 101, 51), 25);  // 50 - 25, not (101 - 51) / 2
    EXPECT_EQ(AlignedLeft(HAlign::Right, 100, 130), -30);
    EXPECT_EQ(AlignedLeft(HAlign::Left, 100, 130), 0);
    EXPECT_EQ(AlignedTop(VAlign::Middle, 15, 8), 3);
    EXPECT_EQ(AlignedTop(VAlign::Bottom, 15, 8), 7);
    EXPECT_EQ(ClampedSum(kCoordinateLimit, 2147483647LL), kCoordinateLimit);
}

TEST(ViewGeometryTest, AlignmentOfExtremeWidthsStaysWithinTheCoordinateLimit) {
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int kMax = std::numeric_limits<int>::max();
    EXPECT_EQ(AlignedLeft(HAlign::Right, 100, kMin), kCoordinateLimit);
    EXPECT_EQ(AlignedLeft(HAlign::Right, -100, kMax), -kCoordinateLimit);
    EXPECT_EQ(AlignedLeft(HAlign::Centre, -3, kMax), -kCoordinateLimit);
    EXPECT_EQ(AlignedLeft(HAlign::Centre, 3, kMin), kCoordinateLimit);
    EXPECT_EQ(AlignedTop(VAlign::Bottom, -10, kMax), -kCoordinateLimit);
    EXPECT_EQ(AlignedTop(VAlign::Middle, 10, kMin), kCoordinateLimit);
}

TEST(ViewGeometryTest, EndlessScrollAndDragWrapAroundTheContent) {
    EXPECT_EQ(NextScrollOffset(0, 500), 1);
    EXPECT_EQ(NextScrollOffset(500, 500), 1);  // past the end starts again at row 1
    EXPECT_EQ(NextScrollOffset(499, 500), 500);
    EXPECT_EQ(DragOffset(120, 20, 500), 100);
    EXPECT_EQ(DragOffset(10, 30, 500), 480);  // dragged down past the top: non-negative
    EXPECT_EQ(DragOffset(10, 2000, 500), 10);
    EXPECT_EQ(DragOffset(10, 20, 0), 0);
}

TEST(ViewGeometryTest, LinkUnderPointTriesTheWrappedRowWhenScrolling) {
    const std::vector<PageRect> links{{10, 20, 60, 35}, {0, 480, 100, 495}};
    // Content 500 high in a 100-row view scrolled to 450: row 30 on screen is content 480.
    EXPECT_EQ(LinkAt(links, 10, 30, 450, 500, 100), 1);
    // Screen row 75 is content 525, wrapped to 25: the first link.
    EXPECT_EQ(LinkAt(links, 10, 75, 450, 500, 100), 0);
    EXPECT_EQ(LinkAt(links, 60, 75, 450, 500, 100), -1);  // right edge is outside
    // Content that fits does not scroll: the point is taken as it is.
    EXPECT_EQ(LinkAt(links, 10, 20, 450, 100, 100), 0);

    EXPECT_EQ(LinkOnScreen(links[0], 5, 500, 100), (PageRect{10, 15, 60, 30}));
    EXPECT_EQ(LinkOnScreen(links[0], 450, 500, 100), (PageRect{10, 70, 60, 85}));  // in the wrapped copy
    // Content no higher than the view is drawn at the top whatever the offset: so is its link.
    EXPECT_EQ(LinkOnScreen(links[0], 37, 100, 100), links[0]);
}

TEST(ViewGeometryTest, InternalCommandTargets) {
    EXPECT_FALSE(ParseInternalCommand("http://example.org/#3").has_value());
    auto plain = ParseInternalCommand("#12");
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->number, 12);
    EXPECT_FALSE(plain->argument.has_value());
    auto withArgument = ParseInternalCommand("#7#a#b");
    ASSERT_TRUE(withArgument.has_value());
    EXPECT_EQ(withArgument->number, 7);
    EXPECT_EQ(withArgument->argument, "a#b");
}

}  // namespace
