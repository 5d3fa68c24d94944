#include "fv_gui/notify/TipLayout.h"

#include <algorithm>

namespace fv {
namespace {

constexpr int kTextPad = 2;           // added to the widest line
constexpr int kWidthOverText = 23;    // strip, gap and right edge
constexpr int kHeightOverText = 7;
constexpr int kGap = 7;               // between the tip and the control or the cursor
constexpr int kCursorOffsetX = 5;
constexpr int kScreenRightMargin = 25;
constexpr int kSmallestCharHeight = -11;

// A down arrow, 7 wide and 8 tall: a three-pixel shaft, a head filled row by row, then its
// outline traced once more.
constexpr std::array<TipPoint, kTipArrowPoints> kDownArrow{{
    {2, 0}, {2, 3}, {3, 3}, {3, 0}, {4, 0}, {4, 3}, {4, 4}, {6, 4}, {0, 4},
    {1, 5}, {5, 5}, {4, 6}, {2, 6}, {3, 7}, {6, 4}, {0, 4}, {3, 7}, {3, 0},
}};
constexpr int kArrowWidth = 7;
constexpr int kArrowHeight = 8;
constexpr int kArrowInset = 1;  // from the strip's edges and the tip's frame

}  // namespace

int ArrowDirection(TipPoint cursor, const TipRect& control) {
    const bool lower = cursor.y >= (control.top + control.bottom) / 2;
    const bool left = cursor.x < (control.left + control.right) / 2;
    if (lower) return left ? 1 : 2;
    return left ? 3 : 4;
}

std::vector<std::string> TipLines(const std::string& text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if (c != '\r') clean.push_back(c);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = clean.find('\n', start);
        lines.push_back(clean.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

TipSize MeasureTip(const std::vector<std::string>& lines,
                   const std::function<int(const std::string&)>& lineWidth, int lineHeight) {
    TipSize size;
    for (const std::string& line : lines) size.textWidth = std::max(size.textWidth, lineWidth(line));
    size.textWidth += kTextPad;
    const int count = std::max<int>(1, static_cast<int>(lines.size()));
    size.multiLine = count > 1;
    size.textHeight = lineHeight * count;
    size.width = size.textWidth + kWidthOverText;
    size.height = size.textHeight + kHeightOverText;
    return size;
}

TipPlacement PlaceTip(TipPoint cursor, const TipRect& control, const TipSize& size,
                      const TipRect& screen, bool atCursor) {
    TipPlacement place;
    place.direction = ArrowDirection(cursor, control);
    place.left = cursor.x;
    if (atCursor) {
        place.left = cursor.x + kCursorOffsetX;
        place.top = cursor.y - size.height - kGap;
        if (place.direction > 2) place.direction -= 2;
    } else if (place.direction <= 2) {
        place.top = control.top - size.height - kGap;
    } else {
        place.top = control.bottom;
    }
    if (place.left + size.width > screen.right - kScreenRightMargin) {
        place.left = screen.right - size.width - kScreenRightMargin;
    }
    // Near the top or left edge the tip would otherwise be partly or wholly off the screen.
    place.left = std::max(place.left, screen.left);
    place.top = std::max(place.top, screen.top);
    return place;
}

std::array<TipPoint, kTipArrowPoints> ArrowPolyline(int direction, int tipHeight) {
    const bool down = direction <= 2;
    const bool rightSide = direction == 1 || direction == 3;
    const int x0 = rightSide ? kTipStripWidth - kArrowInset - kArrowWidth : kArrowInset;
    const int y0 = down ? tipHeight - kArrowInset - kArrowHeight : kArrowInset;
    std::array<TipPoint, kTipArrowPoints> points{};
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TipPoint p = kDownArrow[i];
        points[i] = {x0 + p.x, y0 + (down ? p.y : kArrowHeight - 1 - p.y)};
    }
    return points;
}

int TipFontHeight(int menuFontHeight) {
    return menuFontHeight < 0 && menuFontHeight > kSmallestCharHeight ? kSmallestCharHeight
                                                                       : menuFontHeight;
}

}  // namespace fv
