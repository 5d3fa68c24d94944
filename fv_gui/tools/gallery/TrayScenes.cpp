#include "fv_gui/tools/gallery/Scene.h"
namespace fv::gallery {
std::vector<Scene> TrayScenes() { return {}; }
}  // namespace fv::gallery
