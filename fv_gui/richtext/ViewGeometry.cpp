#include "fv_gui/richtext/ViewGeometry.h"

#include <algorithm>

namespace fv::richtext {

int ClampedSum(long long a, long long b) {
    return static_cast<int>(std::clamp(a + b, -static_cast<long long>(kCoordinateLimit),
                                       static_cast<long long>(kCoordinateLimit)));
}

int AlignedLeft(HAlign align, int clientWidth, int width) {
    switch (align) {
    case HAlign::Left: return 0;
    case HAlign::Centre: return ClampedSum(clientWidth / 2, -(width / 2));
    case HAlign::Right: return ClampedSum(clientWidth, -static_cast<long long>(width));
    }
    return 0;
}

int AlignedTop(VAlign align, int lineHeight, int itemHeight) {
    switch (align) {
    case VAlign::Top: return 0;
    case VAlign::Middle: return ClampedSum(lineHeight / 2, -(itemHeight / 2));
    case VAlign::Bottom: return ClampedSum(lineHeight, -static_cast<long long>(itemHeight));
    }
    return 0;
}

int NextScrollOffset(int offset, int contentHeight) {
    const int next = offset + 1;
    return next > contentHeight ? 1 : next;
}

int DragOffset(int anchor, int mouseY, int contentHeight) {
    if (contentHeight <= 0) return 0;
    const long long m = (static_cast<long long>(anchor) - mouseY) % contentHeight;
    return static_cast<int>(m < 0 ? m + contentHeight : m);
}

int LinkAt(const std::vector<PageRect>& links, int x, int y, int offset, int contentHeight, int viewHeight) {
    const bool scrolls = contentHeight > viewHeight;
    for (std::size_t n = 0; n < links.size(); ++n) {
        const PageRect& r = links[n];
        if (scrolls) {
            const long long row = static_cast<long long>(y) + offset;
            if (r.Contains(x, static_cast<int>(row)) || r.Contains(x, static_cast<int>(row - contentHeight))) {
                return static_cast<int>(n);
            }
        } else if (r.Contains(x, y)) {
            return static_cast<int>(n);
        }
    }
    return -1;
}

PageRect LinkOnScreen(const PageRect& link, int offset, int contentHeight, int viewHeight) {
    if (contentHeight <= viewHeight) return link;
    const PageRect up = link.Moved(0, -offset);
    if (up.bottom <= 0) return link.Moved(0, contentHeight - offset);
    return up;
}

std::optional<InternalCommand> ParseInternalCommand(std::string_view target) {
    if (target.empty() || target[0] != '#') return std::nullopt;
    target.remove_prefix(1);
    InternalCommand command;
    const std::size_t hash = target.find('#');
    command.number = ParseMarkupInt(target.substr(0, hash));
    if (hash != std::string_view::npos) command.argument = std::string(target.substr(hash + 1));
    return command;
}

}  // namespace fv::richtext
