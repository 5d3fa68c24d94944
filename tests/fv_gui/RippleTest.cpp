#include "fv_gui/app/Ripple.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int kW = fv::Ripple::kWidth;
constexpr int kH = fv::Ripple::kHeight;

int Cell(int x, int y) { return y * kW + x; }

// A picture whose every pixel differs, with the unused byte set as rendering leaves it.
std::vector<std::uint32_t> Picture() {
    std::vector<std::uint32_t> p(kW * kH);
    for (int i = 0; i < kW * kH; ++i) {
        p[i] = 0xFF000000u | static_cast<std::uint32_t>(((i * 7) & 0xFF) << 16 | ((i * 13) & 0xFF) << 8 | (i & 0xFF));
    }
    return p;
}

TEST(RippleTest, StillSurfaceCopiesThePictureUnchanged) {
    fv::Ripple ripple;
    const auto source = Picture();
    auto display = source;
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(ripple.Step(source, display));
    EXPECT_EQ(display, source);

    std::vector<std::uint32_t> wrongSize(kW * kH - 1);
    EXPECT_FALSE(ripple.Step(source, wrongSize));
}

TEST(RippleTest, DisturbanceWritesOnlyInteriorCellsOfTheNextWrittenField) {
    fv::Ripple ripple;
    ripple.Disturb(1, 1, fv::Ripple::kClickRadius, fv::Ripple::kClickDepth);
    ripple.Disturb(kW - 1, kH - 1, fv::Ripple::kClickRadius, fv::Ripple::kClickDepth);
    ripple.Disturb(-1000, 5000, 40, 7);  // far outside: nothing
    const auto& f0 = ripple.Field(0);
    int touched = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const bool interior = x >= 1 && x <= kW - 2 && y >= 1 && y <= kH - 2;
            if (!interior) {
                EXPECT_EQ(f0[Cell(x, y)], 0) << x << "," << y;
            }
            if (f0[Cell(x, y)] != 0) ++touched;
        }
    }
    EXPECT_EQ(f0[Cell(1, 1)], 500);
    EXPECT_EQ(f0[Cell(kW - 2, kH - 2)], 500);
    EXPECT_EQ(f0[Cell(1, 34)], 500);  // 33² < 34²
    EXPECT_EQ(f0[Cell(1, 35)], 0);
    EXPECT_EQ(f0[Cell(25, 25)], 500);  // 24² + 24² < 34²
    EXPECT_EQ(f0[Cell(26, 25)], 0);    // 25² + 24² ≥ 34²
    EXPECT_GT(touched, 0);
    for (std::int32_t h : ripple.Field(1)) ASSERT_EQ(h, 0);

    // After one step the toggle selects the other field.
    auto display = Picture();
    ASSERT_TRUE(ripple.Step(Picture(), display));
    ripple.Disturb(100, 70, 1, 9);
    EXPECT_EQ(ripple.Field(1)[Cell(100, 70)], 9);
}

TEST(RippleTest, KnownDisturbanceGivesKnownHeightsAndPixels) {
    fv::Ripple ripple;
    ripple.Disturb(100, 70, fv::Ripple::kMoveRadius, fv::Ripple::kMoveDepth);  // a 3×3 block of 50
    const auto source = Picture();
    auto display = source;
    ASSERT_TRUE(ripple.Step(source, display));

    // Rendering used the disturbed surface: at (101, 70) the slope is dx = 50, dy = 0, so the
    // pixel comes from 50 >> 3 = 6 columns to the right, darkened by 50 in each channel.
    const std::uint32_t from = source[Cell(107, 70)];
    auto darker = [](std::uint32_t p, int shift) {
        const int v = static_cast<int>((p >> shift) & 0xFF) - 50;
        return static_cast<std::uint32_t>(v < 0 ? 0 : v) << shift;
    };
    EXPECT_EQ(display[Cell(101, 70)], 0xFF000000u | darker(from, 16) | darker(from, 8) | darker(from, 0));
    // Left of the block at (98, 70) the slope is dx = -50: brighter by 50, clamped at 255, from
    // -50 >> 3 = -7 columns away.
    const std::uint32_t left = source[Cell(98 - 7, 70)];
    auto brighter = [](std::uint32_t p, int shift) {
        const int v = static_cast<int>((p >> shift) & 0xFF) + 50;
        return static_cast<std::uint32_t>(v > 255 ? 255 : v) << shift;
    };
    EXPECT_EQ(display[Cell(98, 70)], 0xFF000000u | brighter(left, 16) | brighter(left, 8) | brighter(left, 0));
    // Below it at (100, 68) the slope is dy = -50 only: the pixel 7 rows down, unshaded.
    EXPECT_EQ(display[Cell(100, 68)], source[Cell(100, 68 - 7)]);

    // Update with toggle 0 read the still field 1 and wrote field 0: v = 0 - 50, v - (v >> 5) = -48.
    EXPECT_EQ(ripple.Field(0)[Cell(100, 70)], -48);
    EXPECT_EQ(ripple.Field(0)[Cell(101, 71)], -48);
    EXPECT_EQ(ripple.Field(0)[Cell(102, 70)], 0);
    EXPECT_EQ(ripple.Toggle(), 1);

    ASSERT_TRUE(ripple.Step(source, display));
    const auto& f1 = ripple.Field(1);
    // Centre: eight neighbours of -48 → -384 >> 2 = -96, minus 0; -96 - (-96 >> 5) = -93.
    EXPECT_EQ(f1[Cell(100, 70)], -93);
    // Edge of the block (101, 70): five neighbours of -48 → -240 >> 2 = -60 → -60 - (-2) = -58.
    EXPECT_EQ(f1[Cell(101, 70)], -58);
    // Corner (101, 71): three → -144 >> 2 = -36 → -36 - (-2) = -34.
    EXPECT_EQ(f1[Cell(101, 71)], -34);
    // Just outside (102, 70): three → -34; (103, 70): none → 0.
    EXPECT_EQ(f1[Cell(102, 70)], -34);
    EXPECT_EQ(f1[Cell(103, 70)], 0);
    EXPECT_EQ(ripple.Toggle(), 0);
}

// A picture of scale × scale pixels per cell (for a scaled screen) ripples cell by cell as the
// plain picture does, and calm water shows each of its pixels, not one per cell.
TEST(RippleTest, ScaledPictureRipplesByCellsAndKeepsItsDetail) {
    constexpr int kScale = 2;
    constexpr int kRowPixels = kW * kScale;
    const auto plain = Picture();
    std::vector<std::uint32_t> blocks(plain.size() * kScale * kScale);
    for (int y = 0; y < kH * kScale; ++y) {
        for (int x = 0; x < kRowPixels; ++x) blocks[y * kRowPixels + x] = plain[Cell(x / kScale, y / kScale)];
    }
    fv::Ripple one;
    fv::Ripple two;
    one.Disturb(100, 70, fv::Ripple::kClickRadius, fv::Ripple::kClickDepth);
    two.Disturb(100, 70, fv::Ripple::kClickRadius, fv::Ripple::kClickDepth);
    auto plainDisplay = plain;
    auto scaledDisplay = blocks;
    for (int n = 0; n < 3; ++n) {
        ASSERT_TRUE(one.Step(plain, plainDisplay));
        ASSERT_TRUE(two.Step(blocks, scaledDisplay, kScale));
    }
    ASSERT_NE(plainDisplay, plain);
    int differing = 0;
    for (int y = 0; y < kH * kScale; ++y) {
        for (int x = 0; x < kRowPixels; ++x) {
            differing += scaledDisplay[y * kRowPixels + x] != plainDisplay[Cell(x / kScale, y / kScale)];
        }
    }
    EXPECT_EQ(differing, 0);

    std::vector<std::uint32_t> detailed(blocks.size());
    for (std::size_t i = 0; i < detailed.size(); ++i) {
        detailed[i] = 0xFF000000u | static_cast<std::uint32_t>((i * 2654435761u) & 0xFFFFFFu);
    }
    fv::Ripple calm;
    std::vector<std::uint32_t> display(detailed.size(), 0);
    ASSERT_TRUE(calm.Step(detailed, display, kScale));
    for (int y = kScale; y < (kH - 1) * kScale; ++y) {
        for (int x = kScale; x < (kW - 1) * kScale; ++x) {
            ASSERT_EQ(display[y * kRowPixels + x], detailed[y * kRowPixels + x]) << x << "," << y;
        }
    }

    EXPECT_FALSE(calm.Step(plain, display, kScale));
    EXPECT_FALSE(calm.Step(detailed, display, 0));
}

}  // namespace
