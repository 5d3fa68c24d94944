#include "fv_gui/controls/SliderMath.h"

#include <gtest/gtest.h>

#include <climits>

namespace fv {
namespace {

// The preferences' slider: 100..2000, a 12-pixel thumb, 3-pixel margins, 180 pixels wide.
constexpr SliderTrack kTrack{100, 2000, 180, 3, 3, 12};

TEST(SliderMathTest, KeysStepAndStayInRange) {
    EXPECT_EQ(PositionAfterKey(kTrack, 1990, 20, SliderKey::PageDown), 2000);
    EXPECT_EQ(PositionAfterKey(kTrack, 110, 20, SliderKey::PageUp), 100);
    EXPECT_EQ(PositionAfterKey(kTrack, 500, 20, SliderKey::PageUp), 480);
    EXPECT_EQ(PositionAfterKey(kTrack, 500, 20, SliderKey::End), 2000);
    EXPECT_EQ(PositionAfterKey(kTrack, 500, 20, SliderKey::Home), 100);
    EXPECT_EQ(PositionAfterKey(kTrack, 500, 20, SliderKey::Right), 501);
    EXPECT_EQ(PositionAfterKey(kTrack, 500, 20, SliderKey::Down), 501);
    EXPECT_EQ(PositionAfterKey(kTrack, 500, 20, SliderKey::Left), 499);
    EXPECT_EQ(PositionAfterKey(kTrack, 2000, 20, SliderKey::Right), 2000);
    EXPECT_EQ(PositionAfterKey(kTrack, 100, 20, SliderKey::Up), 100);
}

TEST(SliderMathTest, ExtremeStepsDoNotWrapAround) {
    const SliderTrack wide{INT_MIN, INT_MAX, 180, 3, 3, 12};
    EXPECT_EQ(PositionAfterKey(wide, INT_MAX - 5, 20, SliderKey::PageDown), INT_MAX);
    EXPECT_EQ(PositionAfterKey(wide, INT_MIN + 5, 20, SliderKey::PageUp), INT_MIN);
    EXPECT_EQ(PositionAfterKey(kTrack, 500, INT_MAX, SliderKey::PageUp), 100);
}

TEST(SliderMathTest, PixelsOfTheEndsAndBetween) {
    // Track length 180 - 3 - 3 - 12 = 162; the thumb centre runs from 9 to 171.
    EXPECT_EQ(PositionToPixel(kTrack, 100), 9);
    EXPECT_EQ(PositionToPixel(kTrack, 2000), 171);
    EXPECT_EQ(PositionToPixel(kTrack, 1050), 3 + 81 + 6);
    EXPECT_EQ(PositionToPixel(kTrack, 1600), 3 + 127 + 6);  // 1500/1900*162 = 127.9, truncated
    EXPECT_EQ(PixelToPosition(kTrack, 9), 100);
    EXPECT_EQ(PixelToPosition(kTrack, 171), 2000);
    EXPECT_EQ(PixelToPosition(kTrack, 90), 100 + 950);
    EXPECT_EQ(PixelToPosition(kTrack, 0), 100);     // left of the track
    EXPECT_EQ(PixelToPosition(kTrack, 400), 2000);  // right of it
}

TEST(SliderMathTest, DegenerateRangeOrTrackGivesTheLeftEnd) {
    const SliderTrack empty{500, 500, 180, 3, 3, 12};
    EXPECT_EQ(PositionToPixel(empty, 500), 9);
    EXPECT_EQ(PixelToPosition(empty, 100), 500);
    const SliderTrack narrow{100, 2000, 10, 3, 3, 12};
    EXPECT_EQ(PositionToPixel(narrow, 1500), 9);
    EXPECT_EQ(PixelToPosition(narrow, 50), 100);
    EXPECT_EQ(DragPixel(narrow, 50, 0), 9);
}

TEST(SliderMathTest, PressOnTheThumbKeepsTheGripElsewhereJumps) {
    const int centre = PositionToPixel(kTrack, 1050);
    EXPECT_EQ(GrabOffset(kTrack, 1050, centre + 4), 4);
    EXPECT_EQ(GrabOffset(kTrack, 1050, centre - 6), -6);
    EXPECT_EQ(GrabOffset(kTrack, 1050, centre + 7), 0);
    // Far from the thumb: the thumb's centre goes under the cursor.
    EXPECT_EQ(DragPixel(kTrack, 30, GrabOffset(kTrack, 1050, 30)), 30);
    // Dragging keeps the centre on the track.
    EXPECT_EQ(DragPixel(kTrack, 0, 0), 9);
    EXPECT_EQ(DragPixel(kTrack, 500, 0), 171);
    EXPECT_EQ(DragPixel(kTrack, 100, 4), 96);
}

}  // namespace
}  // namespace fv
