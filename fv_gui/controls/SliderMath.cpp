#include "fv_gui/controls/SliderMath.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace fv {
namespace {

int Low(const SliderTrack& t) { return std::min(t.min, t.max); }
int High(const SliderTrack& t) { return std::max(t.min, t.max); }

int TrackLength(const SliderTrack& t) {
    return t.width - t.marginLeft - t.marginRight - t.thumbWidth;
}

int Truncate(double value) {
    constexpr double lo = std::numeric_limits<int>::min();
    constexpr double hi = std::numeric_limits<int>::max();
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::clamp(value, lo, hi));
}

int ClampWide(const SliderTrack& t, std::int64_t position) {
    return static_cast<int>(std::clamp<std::int64_t>(position, Low(t), High(t)));
}

}  // namespace

int ClampPosition(const SliderTrack& track, int position) { return ClampWide(track, position); }

int PositionToPixel(const SliderTrack& track, int position) {
    const double span = static_cast<double>(track.max) - track.min;
    const int length = TrackLength(track);
    if (span == 0 || length <= 0) return ThumbPixelMin(track);
    const double offset = static_cast<double>(position) - track.min;
    return Truncate(track.marginLeft + offset / span * length + track.thumbWidth / 2);
}

int PixelToPosition(const SliderTrack& track, int pixel) {
    const int length = TrackLength(track);
    if (length <= 0) return ClampPosition(track, track.min);
    const double along = static_cast<double>(pixel) - track.thumbWidth / 2 - track.marginLeft;
    const double span = static_cast<double>(track.max) - track.min;
    return ClampWide(track, static_cast<std::int64_t>(track.min) + Truncate(along / length * span));
}

int ThumbPixelMin(const SliderTrack& track) { return track.marginLeft + track.thumbWidth / 2; }

int ThumbPixelMax(const SliderTrack& track) {
    return std::max(ThumbPixelMin(track), track.width - track.marginRight - track.thumbWidth / 2);
}

int GrabOffset(const SliderTrack& track, int position, int pressX) {
    const int distance = pressX - PositionToPixel(track, position);
    return std::abs(distance) <= track.thumbWidth / 2 ? distance : 0;
}

int DragPixel(const SliderTrack& track, int cursorX, int grabOffset) {
    const std::int64_t pixel = static_cast<std::int64_t>(cursorX) - grabOffset;
    return static_cast<int>(
        std::clamp<std::int64_t>(pixel, ThumbPixelMin(track), ThumbPixelMax(track)));
}

int PositionAfterKey(const SliderTrack& track, int position, int page, SliderKey key) {
    const std::int64_t pos = position;
    switch (key) {
        case SliderKey::PageUp: return ClampWide(track, pos - page);
        case SliderKey::PageDown: return ClampWide(track, pos + page);
        case SliderKey::End: return High(track);
        case SliderKey::Home: return Low(track);
        case SliderKey::Right:
        case SliderKey::Down: return ClampWide(track, pos + 1);
        case SliderKey::Left:
        case SliderKey::Up: return ClampWide(track, pos - 1);
    }
    return ClampPosition(track, position);
}

}  // namespace fv
