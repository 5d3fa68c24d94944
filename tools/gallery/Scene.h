// A gallery scene: puts one component on screen in one state, for screenshots and for looking.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fv {
class Settings;
}

namespace fv::gallery {

struct Scene {
    std::string name;             // also the PNG's file name
    std::function<void()> show;   // creates the windows (owned by the scene) and sets their state
};

std::vector<Scene> ControlScenes();  // controls, lamp, tips, artwork
std::vector<Scene> NotifyScenes();   // skinned frame, tray icon, balloon, notifier popup
std::vector<Scene> LogViewScenes();  // log windows under the main window, their row menu
std::vector<Scene> DialogScenes();   // preferences dialog, about box
std::vector<Scene> AppScenes();      // the main window with its log windows, on a simulated driver
std::vector<Scene> FitScenes();      // texts at their longest
std::vector<Scene> TrayScenes();     // the tray after a stop, the icon on a StatusNotifier host

// The main window on a driver hosted in the scene's process, simulating one adapter; its
// settings are the scene's own, then `configure`'s. Ends with the application.
struct MainWindowScene;
MainWindowScene* StartMainWindowScene(const std::function<void(fv::Settings&)>& configure);
// One outgoing TCP packet to a listed address; `n` varies its address and port.
void SendBlockedPacket(MainWindowScene* scene, int n);

}  // namespace fv::gallery
