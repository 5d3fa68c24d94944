// Artwork by numeric resource id. The image of id N is compiled in from fv_gui/res/art/N.svg.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace fv::res {

// The image at the SVG's own size; where it uses the key colour (RGB 255,0,255), every pixel is
// either exactly the key colour or free of it, so that masking leaves no fringe. A null pixmap
// for an unknown id.
[[nodiscard]] QPixmap Bitmap(int id);

// The same image as an icon, scalable.
[[nodiscard]] QIcon Icon(int id);

}  // namespace fv::res
