#include "fv_gui/notify/FrameGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fv_gui/res/ResourceIds.h"

namespace fv::notify {
namespace {

constexpr int kWidth = 300;

int CountBitmap(const std::vector<FramePiece>& pieces, int id) {
    return static_cast<int>(std::count_if(pieces.begin(), pieces.end(), [id](const FramePiece& p) {
        return p.kind == FramePiece::Bitmap && p.id == id;
    }));
}

const FramePiece* BitmapAt(const std::vector<FramePiece>& pieces, int x) {
    const FramePiece* last = nullptr;  // later pieces cover earlier ones
    for (const auto& p : pieces) {
        if (p.kind == FramePiece::Bitmap && p.x == x && p.y <= 2) last = &p;
    }
    return last;
}

TEST(CaptionHitTest, ButtonsByTheirSlots) {
    const FrameButtons both{true, true};
    EXPECT_EQ(CaptionButtonAt(kWidth - 22, 5, kWidth, both), CaptionButton::Close);
    EXPECT_EQ(CaptionButtonAt(kWidth - 23, 5, kWidth, both), CaptionButton::Maximize);
    EXPECT_EQ(CaptionButtonAt(kWidth - 43, 5, kWidth, both), CaptionButton::Maximize);
    EXPECT_EQ(CaptionButtonAt(kWidth - 44, 5, kWidth, both), CaptionButton::Minimize);
    EXPECT_EQ(CaptionButtonAt(kWidth - 65, 5, kWidth, both), CaptionButton::None);
    // The icon slot's edges belong to the caption.
    EXPECT_EQ(CaptionButtonAt(0, 5, kWidth, both), CaptionButton::None);
    EXPECT_EQ(CaptionButtonAt(1, 5, kWidth, both), CaptionButton::Icon);
    EXPECT_EQ(CaptionButtonAt(22, 5, kWidth, both), CaptionButton::Icon);
    EXPECT_EQ(CaptionButtonAt(23, 5, kWidth, both), CaptionButton::None);
    // Below the band nothing is a caption button.
    EXPECT_EQ(CaptionButtonAt(kWidth - 5, kCaptionHeight, kWidth, both), CaptionButton::None);
    EXPECT_EQ(CaptionButtonAt(kWidth - 5, kCaptionHeight - 1, kWidth, both), CaptionButton::Close);
}

TEST(CaptionHitTest, WithoutMaximizeTheMinimizeTakesItsSlot) {
    EXPECT_EQ(CaptionButtonAt(kWidth - 30, 5, kWidth, {false, true}), CaptionButton::Minimize);
    EXPECT_EQ(CaptionButtonAt(kWidth - 50, 5, kWidth, {false, true}), CaptionButton::None);
    EXPECT_EQ(CaptionButtonAt(kWidth - 30, 5, kWidth, {false, false}), CaptionButton::None);
    EXPECT_EQ(CaptionButtonAt(kWidth - 50, 5, kWidth, {true, false}), CaptionButton::None);
}

TEST(FrameHitTest, ResizeBordersOnlyWhenResizable) {
    EXPECT_EQ(HitTest(2, 100, 300, 200, 0), FrameHit::Client);
    EXPECT_EQ(HitTest(2, 100, 300, 200, 4), FrameHit::Left);
    EXPECT_EQ(HitTest(299, 199, 300, 200, 4), FrameHit::BottomRight);
    EXPECT_EQ(HitTest(150, 10, 300, 200, 4), FrameHit::Caption);
    EXPECT_EQ(HitTest(150, 2, 300, 200, 4), FrameHit::Top);
}

TEST(FrameLayoutTest, CaptionTilesFillTheBandUpToTheButtons) {
    const auto pieces = FrameLayout(kWidth, 200, {});
    // Tiles from x = 23 while x < width - 33, 30 apart.
    int tiles = 0;
    for (const auto& p : pieces) {
        if (p.kind == FramePiece::Bitmap && p.id == res::kFrameCaptionTile && p.w == 30) {
            EXPECT_EQ((p.x - 23) % 30, 0);
            EXPECT_LT(p.x, kWidth - 33);
            ++tiles;
        }
    }
    EXPECT_EQ(tiles, 9);  // 23, 53, ..., 263
}

TEST(FrameLayoutTest, NarrowDialogHasNoCaptionTiles) {
    for (int w : {56, 40}) {
        const auto pieces = FrameLayout(w, 100, {});
        for (const auto& p : pieces) EXPECT_FALSE(p.id == res::kFrameCaptionTile && p.w == 30) << w;
    }
    EXPECT_EQ(CountBitmap(FrameLayout(57, 100, {}), res::kFrameCaptionTile), 3);  // one tile + two fillers
}

TEST(FrameLayoutTest, PressedAndHoverImages) {
    FrameState s;
    s.buttons = {true, true};
    s.pressed = CaptionButton::Maximize;
    auto pieces = FrameLayout(kWidth, 200, s);
    EXPECT_EQ(BitmapAt(pieces, kWidth - 44)->id, res::kFrameMaximizePressed);
    EXPECT_EQ(BitmapAt(pieces, kWidth - 65)->id, res::kFrameMinimizeNormal);
    EXPECT_EQ(BitmapAt(pieces, kWidth - 23)->id, res::kFrameCloseNormal);

    // The icon button shows hover and pressed only when it has a menu to open.
    s.pressed = CaptionButton::None;
    s.iconHover = true;
    EXPECT_EQ(BitmapAt(FrameLayout(kWidth, 200, s), 1)->id, res::kFrameIconNormal);
    s.hasIconMenu = true;
    EXPECT_EQ(BitmapAt(FrameLayout(kWidth, 200, s), 1)->id, res::kFrameIconHover);
    s.pressed = CaptionButton::Icon;
    EXPECT_EQ(BitmapAt(FrameLayout(kWidth, 200, s), 1)->id, res::kFrameIconPressed);
}

TEST(FrameLayoutTest, AbsentButtonsLeaveCaptionBackground) {
    FrameState s;
    s.buttons = {false, true};
    s.pressed = CaptionButton::Minimize;
    auto pieces = FrameLayout(kWidth, 200, s);
    EXPECT_EQ(BitmapAt(pieces, kWidth - 44)->id, res::kFrameMinimizePressed);  // over its filler tile
    EXPECT_EQ(CountBitmap(pieces, res::kFrameMaximizeNormal), 0);

    s.buttons = {true, false};
    pieces = FrameLayout(kWidth, 200, s);
    EXPECT_EQ(BitmapAt(pieces, kWidth - 65)->id, res::kFrameCaptionTile);
    EXPECT_EQ(BitmapAt(pieces, kWidth - 65)->w, 21);
}

TEST(RoundedRectRowsTest, CornersCutMiddleRowsFull) {
    const auto rows = RoundedRectRows(40, 30, 11, 11);
    ASSERT_EQ(rows.size(), 30u);
    EXPECT_GT(rows[0].first, 0);
    EXPECT_EQ(rows[0].first, rows[29].first);           // top and bottom alike
    EXPECT_EQ(rows[0].first, 40 - rows[0].last);        // left and right alike
    EXPECT_LE(rows[1].first, rows[0].first);
    EXPECT_EQ(rows[15].first, 0);
    EXPECT_EQ(rows[15].last, 40);
    // A window smaller than the corners still gets a shape, never an inverted span.
    for (const auto& r : RoundedRectRows(3, 2, 11, 11)) EXPECT_LE(r.first, r.last);
    EXPECT_TRUE(RoundedRectRows(0, 10, 11, 11).empty());
}

}  // namespace
}  // namespace fv::notify
