// One-pixel bevels and frames as the flat controls draw them.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRect>

namespace fv {

// Top and left edges in one colour, bottom and right in the other; rect is exclusive of its
// right and bottom, like a window rectangle.
inline void Draw3dRect(QPainter& painter, const QRect& rect, const QColor& topLeft,
                       const QColor& bottomRight) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    const int l = rect.left(), t = rect.top(), w = rect.width(), h = rect.height();
    painter.fillRect(l, t, w - 1, 1, topLeft);
    painter.fillRect(l, t, 1, h - 1, topLeft);
    painter.fillRect(l + w - 1, t, 1, h, bottomRight);
    painter.fillRect(l, t + h - 1, w, 1, bottomRight);
}

inline void DrawFrame(QPainter& painter, const QRect& rect, const QColor& colour) {
    Draw3dRect(painter, rect, colour, colour);
}

}  // namespace fv
