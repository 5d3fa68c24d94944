// Numeric ids of the program's artwork, menus and dialog templates.
#pragma once

namespace fv::res {

// Status lamp, custom controls, log list icons, program icons and the about picture.

// Skinned frame and notifier popup.

}  // namespace fv::res
