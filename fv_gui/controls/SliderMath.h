// Position and pixel arithmetic of the horizontal bitmap slider, and its keys.
#pragma once

#include <optional>

namespace fv {

// What the arithmetic needs to know of a horizontal slider. A track is the part of the control
// the thumb's left edge travels over: width minus both margins minus the thumb.
struct SliderTrack {
    int min = 0;
    int max = 100;
    int width = 0;        // control width in pixels
    int marginLeft = 0;
    int marginRight = 0;
    int thumbWidth = 0;
};

enum class SliderKey { PageUp, PageDown, End, Home, Right, Down, Left, Up };

// Clamped to [min, max]; a reversed range is read as the ordered one.
[[nodiscard]] int ClampPosition(const SliderTrack& track, int position);

// The pixel of the thumb's centre for a position, truncated. An empty range or a track with no
// room puts the thumb at its leftmost place instead of dividing by zero.
[[nodiscard]] int PositionToPixel(const SliderTrack& track, int position);

// The position whose thumb centre is at the pixel, truncated and clamped.
[[nodiscard]] int PixelToPosition(const SliderTrack& track, int pixel);

// The leftmost and rightmost pixels the thumb's centre may take.
[[nodiscard]] int ThumbPixelMin(const SliderTrack& track);
[[nodiscard]] int ThumbPixelMax(const SliderTrack& track);

// Where a press grabs the thumb: the distance from its centre when the press is within half a
// thumb width of it, otherwise 0 (the thumb jumps to the press).
[[nodiscard]] int GrabOffset(const SliderTrack& track, int position, int pressX);

// The thumb centre while dragging: the cursor minus the grab offset, kept on the track.
[[nodiscard]] int DragPixel(const SliderTrack& track, int cursorX, int grabOffset);

// The position a key leads to, clamped; page is the page step.
[[nodiscard]] int PositionAfterKey(const SliderTrack& track, int position, int page, SliderKey key);

}  // namespace fv
