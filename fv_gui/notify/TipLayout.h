// Geometry of the hover tip: which way its arrow points, its size from the text, where it goes
// on the screen, and the arrow glyph.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace fv {

struct TipPoint {
    int x = 0;
    int y = 0;
    bool operator==(const TipPoint&) const = default;
};

// Screen rectangle; right and bottom are exclusive.
struct TipRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// 1: cursor in the lower left of the control, 2: lower right, 3: upper left, 4: upper right.
[[nodiscard]] int ArrowDirection(TipPoint cursor, const TipRect& control);

// The text's lines, carriage returns removed.
[[nodiscard]] std::vector<std::string> TipLines(const std::string& text);

struct TipSize {
    int textWidth = 0;
    int textHeight = 0;
    int width = 0;
    int height = 0;
    bool multiLine = false;  // the text is drawn with word breaking
};

[[nodiscard]] TipSize MeasureTip(const std::vector<std::string>& lines,
                                 const std::function<int(const std::string&)>& lineWidth,
                                 int lineHeight);

struct TipPlacement {
    int left = 0;
    int top = 0;
    int direction = 1;
};

// Beside the control (above it when the cursor is in its lower half), or just above and to the
// right of the cursor. Either way the tip keeps clear of the screen's right border and stays
// inside its top and left edges (the left edge wins on a screen narrower than the tip).
[[nodiscard]] TipPlacement PlaceTip(TipPoint cursor, const TipRect& control, const TipSize& size,
                                    const TipRect& screen, bool atCursor);

// Left strip of the tip that carries the arrow.
inline constexpr int kTipStripWidth = 15;
inline constexpr int kTipArrowPoints = 18;

// The arrow as one polyline inside the strip of a tip of the given height: pointing down at the
// strip's bottom for directions 1 and 2, up at its top for 3 and 4; at the strip's right side
// for 1 and 3, its left side for 2 and 4.
[[nodiscard]] std::array<TipPoint, kTipArrowPoints> ArrowPolyline(int direction, int tipHeight);

// The font's height (a negative value is a character height) with small sizes raised to 11.
[[nodiscard]] int TipFontHeight(int menuFontHeight);

}  // namespace fv
