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
    QImage normal;  // ARGB32 premultiplied, client width × kPageHeight
    QImage hover;
    std::vector<PageRect> links;  // content coordinates, in text order
    std::vector<std::string> targets;
    int contentHeight = 0;
};

[[nodiscard]] RichTextPages RenderPages(std::string_view markup, int clientWidth, QRgb keyColour, QRgb ruleColour);

}  // namespace fv::richtext
