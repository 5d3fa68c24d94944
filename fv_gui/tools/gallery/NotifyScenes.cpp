#include "fv_gui/tools/gallery/Scene.h"

namespace fv::gallery {

std::vector<Scene> NotifyScenes() { return {}; }

}  // namespace fv::gallery
