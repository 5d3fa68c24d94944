#include "fv_gui/tools/gallery/Scene.h"

namespace fv::gallery {

std::vector<Scene> ControlScenes() { return {}; }

}  // namespace fv::gallery
