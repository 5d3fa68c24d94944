// Comparing what a widget drew with its artwork drawn for the widget's screen.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>

#include <functional>

namespace fv::test {

// How many pixels of `art`'s device-pixel rectangle `part` differ from `shot` at device pixel
// `at`, leaving out those of `key` (the artwork's see-through colour) and those `skip` names
// (in the shot's device pixels). Pixels falling outside the shot count as differing.
inline int DifferingPixels(const QImage& shot, QPoint at, const QPixmap& art, QRect part = {},
                           QRgb key = qRgb(255, 0, 255), const std::function<bool(QPoint)>& skip = {}) {
    const QImage image = art.toImage().convertToFormat(QImage::Format_ARGB32);
    if (part.isNull()) part = image.rect();
    int differing = 0;
    for (int y = part.top(); y <= part.bottom(); ++y) {
        for (int x = part.left(); x <= part.right(); ++x) {
            const QRgb want = image.pixel(x, y);
            if ((want | 0xFF000000u) == (key | 0xFF000000u) || qAlpha(want) == 0) continue;
            const QPoint there = at + QPoint(x - part.left(), y - part.top());
            if (skip && skip(there)) continue;
            if (!shot.valid(there) || (shot.pixel(there) | 0xFF000000u) != (want | 0xFF000000u)) ++differing;
        }
    }
    return differing;
}

}  // namespace fv::test
