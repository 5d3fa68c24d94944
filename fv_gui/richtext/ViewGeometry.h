// The arithmetic of the scrolling credits view: line placement, the endless scroll, dragging,
// and which link lies under the mouse. Content coordinates run from row 0 of the pages down.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fv_gui/richtext/MarkupReader.h"

namespace fv::richtext {

// Positions are kept within this bound; anything beyond lies far off every page.
inline constexpr int kCoordinateLimit = 1 << 24;

[[nodiscard]] int ClampedSum(long long a, long long b);

struct PageRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool IsEmpty() const { return right <= left || bottom <= top; }
    // Right and bottom edges are outside.
    bool Contains(int x, int y) const { return left <= x && x < right && top <= y && y < bottom; }
    PageRect Moved(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    friend bool operator==(const PageRect&, const PageRect&) = default;
};

// Left edge of something `width` wide in a client `clientWidth` wide (halves taken separately).
[[nodiscard]] int AlignedLeft(HAlign align, int clientWidth, int width);
// Top of an item `itemHeight` high within a line `lineHeight` high.
[[nodiscard]] int AlignedTop(VAlign align, int lineHeight, int itemHeight);

// One scroll step: the next content row at the top of the view, back to 1 past the end.
[[nodiscard]] int NextScrollOffset(int offset, int contentHeight);
// The offset while dragging: the anchor row follows the mouse, modulo the content height.
[[nodiscard]] int DragOffset(int anchor, int mouseY, int contentHeight);

// Index of the first link under the client point, or -1. When the content is higher than the
// view it scrolls endlessly, so the point is tried at its row and at its wrapped row.
[[nodiscard]] int LinkAt(const std::vector<PageRect>& links, int x, int y, int offset, int contentHeight,
                         int viewHeight);

// Where a link's content rectangle shows in the view: moved up by the offset, or, when that lies
// wholly above the view, in the wrapped copy below the end of the content. Content no higher than
// the view does not scroll, so its links stay where they are.
[[nodiscard]] PageRect LinkOnScreen(const PageRect& link, int offset, int contentHeight, int viewHeight);

// "#n" or "#n#argument": a command of the program rather than a web or mail address.
struct InternalCommand {
    int number = 0;
    std::optional<std::string> argument;
};
[[nodiscard]] std::optional<InternalCommand> ParseInternalCommand(std::string_view target);

}  // namespace fv::richtext
