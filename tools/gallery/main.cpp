// ferrovane-gallery [SCENE]: shows one scene and runs until closed; without a scene, lists them.
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "fv_gui/res/Fonts.h"
#include "tools/gallery/Scene.h"

namespace {

// Scenes shown again at twice the size, as on a desktop scaled to 200%, under their name with
// this suffix.
constexpr std::string_view kScaledSuffix = "-scale2";
constexpr const char* kScaledScenes[] = {"main-window", "preferences", "about", "notifier-waiting",
                                         "notifier-longest-text", "tip", "flat-controls", "slider",
                                         "lamp-2-filtering"};

}  // namespace

int main(int argc, char** argv) {
    // The scale is read when the application starts.
    if (argc >= 2 && std::string_view(argv[1]).ends_with(kScaledSuffix)) qputenv("QT_SCALE_FACTOR", "2");
    // Listing needs no display.
    if (argc < 2 && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    (void)fv::res::UseDialogFont();
    std::vector<fv::gallery::Scene> scenes = fv::gallery::ControlScenes();
    for (auto& scene : fv::gallery::NotifyScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::LogViewScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::DialogScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::AppScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::FitScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::TrayScenes()) scenes.push_back(std::move(scene));
    for (const char* name : kScaledScenes) {
        for (std::size_t n = 0, count = scenes.size(); n < count; ++n) {
            if (scenes[n].name == name) scenes.push_back({scenes[n].name + std::string(kScaledSuffix), scenes[n].show});
        }
    }
    if (argc < 2) {
        for (const auto& scene : scenes) std::printf("%s\n", scene.name.c_str());
        return 0;
    }
    for (const auto& scene : scenes) {
        if (scene.name == argv[1]) {
            scene.show();
            return app.exec();
        }
    }
    std::fprintf(stderr, "ferrovane-gallery: no scene named %s\n", argv[1]);
    return 2;
}
