// ferrovane-gallery [SCENE]: shows one scene and runs until closed; without a scene, lists them.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "fv_gui/tools/gallery/Scene.h"

int main(int argc, char** argv) {
    // Listing needs no display.
    if (argc < 2 && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::vector<fv::gallery::Scene> scenes = fv::gallery::ControlScenes();
    for (auto& scene : fv::gallery::NotifyScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::LogViewScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::DialogScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::AppScenes()) scenes.push_back(std::move(scene));
    for (auto& scene : fv::gallery::TrayScenes()) scenes.push_back(std::move(scene));
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
