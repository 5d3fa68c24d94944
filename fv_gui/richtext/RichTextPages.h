// Lays the credits markup out once into two tall pages: the normal look and the look of every
// link under the mouse. Pixels of the key colour are transparent in both.
#pragma once

#include <QImage>
#include <QRgb>

#include <string>
#include <string_view>
#include <vector>

#include "fv_gui/richtext/ViewGeometry.h"

namespace fv::richtext {

struct RichTextPages {
    QImage normal;  // ARGB32 premultiplied, client width × kPageHeight, at the device pixel ratio
    QImage hover;
    std::vector<PageRect> links;  // content coordinates, in text order
    std::vector<std::string> targets;
    int contentHeight = 0;
};

// Coordinates are the view's; the pages hold `pixelRatio` device pixels for each, so that text
// stays sharp on a scaled screen.
[[nodiscard]] RichTextPages RenderPages(std::string_view markup, int clientWidth, QRgb keyColour, QRgb ruleColour,
                                        qreal pixelRatio = 1.0);

}  // namespace fv::richtext
