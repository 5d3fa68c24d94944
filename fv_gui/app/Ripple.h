// The about box's water ripple: two integer height fields that carry a damped wave, and the
// rendering that displaces and shades the picture by the slope of the surface.
// Cells and pixels run row by row from the bottom row of the picture up; a pixel is 0x..RRGGBB.
// A picture may have scale × scale pixels per cell, again in rows from the bottom up.
// Not thread-safe: the caller serialises Step and Disturb.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace fv {

class Ripple {
public:
    static constexpr int kWidth = 200;
    static constexpr int kHeight = 149;
    static constexpr int kDampingShift = 5;
    static constexpr int kMaxScale = 8;  // pixels per cell each way, at most

    // Mouse disturbances of the about box.
    static constexpr int kMoveRadius = 2;
    static constexpr int kMoveDepth = 50;
    static constexpr int kClickRadius = 34;
    static constexpr int kClickDepth = 500;

    Ripple(int width = kWidth, int height = kHeight);

    int Width() const { return width_; }
    int Height() const { return height_; }

    // Renders from the first field into `display`, then advances the wave one step. False (and
    // nothing done) when either image is not width × height cells of scale × scale pixels (more
    // than one for a scaled screen: the wave moves whole cells, the picture keeps its detail).
    [[nodiscard]] bool Step(std::span<const std::uint32_t> source, std::span<std::uint32_t> display, int scale = 1);

    [[nodiscard]] bool Render(std::span<const std::uint32_t> source, std::span<std::uint32_t> display,
                              int scale = 1) const;
    void Update();

    // Adds `depth` to the interior cells within `radius` of column x, row y of the field the
    // next step writes; cells off the interior are left alone.
    void Disturb(int x, int y, int radius, int depth);

    const std::vector<std::int32_t>& Field(int n) const { return n == 0 ? field0_ : field1_; }
    int Toggle() const { return toggle_; }

private:
    int width_;
    int height_;
    std::vector<std::int32_t> field0_;
    std::vector<std::int32_t> field1_;
    int toggle_ = 0;
};

}  // namespace fv
