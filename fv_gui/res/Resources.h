// Artwork by numeric resource id. The image of id N is compiled in from fv_gui/res/art/N.svg.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QRect>
#include <QRectF>
#include <QRgb>
#include <QSize>

namespace fv::res {

// The image at the SVG's own size; where it uses the key colour (RGB 255,0,255), every pixel is
// either exactly the key colour or free of it, so that masking leaves no fringe. A null pixmap
// for an unknown id.
[[nodiscard]] QPixmap Bitmap(int id);
// The same drawn for a screen of `pixelRatio` device pixels per pixel (a scaled desktop): as big
// in the window's coordinates, with that many more pixels, so it stays sharp.
[[nodiscard]] QPixmap Bitmap(int id, qreal pixelRatio);

// The size in the window's coordinates of a bitmap drawn for any pixel ratio: its size at 1x.
[[nodiscard]] QSize LogicalSize(const QPixmap& bitmap);
// The device pixels of a bitmap drawn at `pixelRatio` that show `logical`, a rectangle of its
// pixels at 1x: what to name as the source when drawing a part of it.
[[nodiscard]] QRectF DevicePart(const QRect& logical, qreal pixelRatio);

// The pixmap with every pixel of the key colour made transparent: what drawing it through a
// mask built from that colour leaves on screen.
[[nodiscard]] QPixmap WithoutKeyColour(const QPixmap& bitmap, QRgb key = qRgb(255, 0, 255));

// The same image as an icon, scalable.
[[nodiscard]] QIcon Icon(int id);

}  // namespace fv::res
