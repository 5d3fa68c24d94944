#include "fv_gui/notify/TipLayout.h"

#include <gtest/gtest.h>

namespace fv {
namespace {

int CharWidth(const std::string& line) { return static_cast<int>(line.size()) * 6; }

constexpr TipRect kControl{100, 200, 180, 220};  // 80 x 20, midpoints (140, 210)
constexpr TipRect kScreen{0, 0, 1024, 768};

TEST(TipLayoutTest, ArrowFollowsTheQuarterOfTheControlUnderTheCursor) {
    EXPECT_EQ(ArrowDirection({110, 215}, kControl), 1);
    EXPECT_EQ(ArrowDirection({170, 215}, kControl), 2);
    EXPECT_EQ(ArrowDirection({110, 205}, kControl), 3);
    EXPECT_EQ(ArrowDirection({170, 205}, kControl), 4);
}

TEST(TipLayoutTest, CarriageReturnsMeasureAsPlainLineBreaks) {
    const auto crlf = TipLines("Reset the total number of packet\r\nthat has been granted.");
    const auto lf = TipLines("Reset the total number of packet\nthat has been granted.");
    EXPECT_EQ(crlf, lf);
    ASSERT_EQ(lf.size(), 2u);
    const TipSize size = MeasureTip(lf, CharWidth, 13);
    EXPECT_EQ(size.textWidth, 32 * 6 + 2);
    EXPECT_EQ(size.textHeight, 26);
    EXPECT_EQ(size.width, size.textWidth + 23);
    EXPECT_EQ(size.height, 26 + 7);
    EXPECT_TRUE(size.multiLine);
    EXPECT_FALSE(MeasureTip(TipLines("Open the log file in notepad."), CharWidth, 13).multiLine);
}

TEST(TipLayoutTest, BesideTheControlAboveOrBelow) {
    const TipSize size = MeasureTip({"abc"}, CharWidth, 13);  // 43 x 20
    const TipPlacement lower = PlaceTip({110, 215}, kControl, size, kScreen, false);
    EXPECT_EQ(lower.left, 110);
    EXPECT_EQ(lower.top, 200 - 20 - 7);
    const TipPlacement upper = PlaceTip({110, 205}, kControl, size, kScreen, false);
    EXPECT_EQ(upper.top, 220);
    EXPECT_EQ(upper.direction, 3);
}

TEST(TipLayoutTest, AtTheCursorTheArrowAlwaysPointsDown) {
    const TipSize size = MeasureTip({"abc"}, CharWidth, 13);
    const TipPlacement place = PlaceTip({170, 205}, kControl, size, kScreen, true);
    EXPECT_EQ(place.left, 175);
    EXPECT_EQ(place.top + size.height + 7, 205);
    EXPECT_EQ(place.direction, 2);
}

TEST(TipLayoutTest, KeepsClearOfTheScreensRightBorder) {
    const TipSize size = MeasureTip({std::string(50, 'x')}, CharWidth, 13);  // 325 wide
    EXPECT_EQ(PlaceTip({900, 215}, kControl, size, kScreen, false).left, 1024 - 325 - 25);
    EXPECT_EQ(PlaceTip({900, 215}, kControl, size, kScreen, true).left, 1024 - 325 - 25);
    EXPECT_EQ(PlaceTip({600, 215}, kControl, size, kScreen, false).left, 600);
}

TEST(TipLayoutTest, StaysInsideTheScreensTopAndLeftEdges) {
    const TipSize size = MeasureTip({"one", "two"}, CharWidth, 13);
    // At the cursor in the top rows, and above a control at the top of the screen.
    EXPECT_EQ(PlaceTip({40, 3}, kControl, size, kScreen, true).top, 0);
    EXPECT_EQ(PlaceTip({110, 15}, {100, 2, 300, 22}, size, kScreen, false).top, 0);
    // A screen that does not start at the origin, narrower than the tip.
    const TipRect second{1024, 100, 1224, 868};
    const TipSize wide = MeasureTip({std::string(50, 'x')}, CharWidth, 13);
    const TipPlacement place = PlaceTip({1030, 105}, {1024, 100, 1100, 120}, wide, second, true);
    EXPECT_EQ(place.left, 1024);
    EXPECT_EQ(place.top, 100);
}

TEST(TipLayoutTest, ArrowStaysInTheStripNearItsEdge) {
    const int height = 33;
    for (int direction = 1; direction <= 4; ++direction) {
        const auto points = ArrowPolyline(direction, height);
        int minX = 99, maxX = -1, minY = 99, maxY = -1;
        for (const TipPoint& p : points) {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
        EXPECT_GE(minX, 0) << direction;
        EXPECT_LT(maxX, kTipStripWidth) << direction;
        if (direction <= 2) {
            EXPECT_GE(minY, height - 10) << direction;
            EXPECT_LT(maxY, height) << direction;
        } else {
            EXPECT_GE(minY, 0) << direction;
            EXPECT_LT(maxY, 10) << direction;
        }
        const bool rightSide = direction == 1 || direction == 3;
        EXPECT_EQ(rightSide, minX > kTipStripWidth / 2 - 2) << direction;
    }
    // Down arrows narrow towards the bottom, up arrows towards the top.
    EXPECT_EQ(ArrowPolyline(1, height)[13].y, height - 2);
    EXPECT_EQ(ArrowPolyline(3, height)[13].y, 1);
}

TEST(TipLayoutTest, SmallCharacterHeightsAreRaisedToEleven) {
    EXPECT_EQ(TipFontHeight(-9), -11);
    EXPECT_EQ(TipFontHeight(-1), -11);
    EXPECT_EQ(TipFontHeight(-11), -11);
    EXPECT_EQ(TipFontHeight(-13), -13);
    EXPECT_EQ(TipFontHeight(16), 16);
}

}  // namespace
}  // namespace fv
