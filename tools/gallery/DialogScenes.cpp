// Scenes of the preferences dialog and the about box.
#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <cstring>

#include "fv_gui/app/Ripple.h"
#include "fv_gui/dialogs/CAboutDialog.h"
#include "fv_gui/dialogs/CPreferencesDialog.h"
#include "fv_gui/richtext/CRichTextView.h"
#include "fv_gui/settings/Settings.h"
#include "tools/gallery/Scene.h"

namespace fv::gallery {
namespace {

constexpr int kCreditsScrolled = 90;   // scroll steps: the credits' heading has gone by
constexpr int kRainPeriodMs = 700;     // a drop keeps the water moving for the shot

template <class W>
W* Keep(W* widget) {
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, widget, [widget] { delete widget; });
    return widget;
}

void ShowPreferences() {
    // A registry that cannot be opened: the defaults show and nothing of the user's is touched.
    ::setenv("FERROVANE_REGISTRY_DIR", "/dev/null/ferrovane-gallery", 1);
    auto* settings = new Settings("/usr/bin/ferrovane");
    settings->LogPath.Set("/home/user/.local/share/ferrovane/");
    static bool applied = false;
    dialogs::PreferencesHooks hooks;
    hooks.askYesNo = [](const std::string&) { return false; };
    auto* dialog = Keep(new dialogs::CPreferencesDialog(*settings, applied, nullptr, hooks));
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [settings] { delete settings; });
    dialog->move(40, 20);
    dialog->show();
}

void ShowAbout() {
    DriverVersionInfo info{};
    info.major = 2;
    info.minor = 0;
    info.build = 8056;
    std::strcpy(info.codeName, "Duskmere");
    std::strcpy(info.tag, "*Beta*");
    auto* about = Keep(new dialogs::CAboutDialog(info, true, nullptr));
    about->move(60, 60);
    about->show();
    for (int n = 0; n < kCreditsScrolled; ++n) about->Credits()->ScrollStep();

    // A click on the water, then the mouse drawn across it, and a drop now and then.
    const QRect picture = dialogs::CAboutDialog::PictureRect();
    about->OnLeftButtonDown(picture.topLeft() + QPoint(120, 60));
    for (int x = 20; x < 180; x += 4) about->OnMouseMove(picture.topLeft() + QPoint(x, 100 + x / 8));
    auto* rain = new QTimer(about);
    QObject::connect(rain, &QTimer::timeout, about, [about, picture] {
        static int drop = 0;
        const QPoint spots[] = {{60, 50}, {140, 90}, {100, 30}, {40, 110}};
        about->OnLeftButtonDown(picture.topLeft() + spots[drop++ % 4]);
    });
    rain->start(kRainPeriodMs);
}

}  // namespace

std::vector<Scene> DialogScenes() {
    return {
        {"preferences", ShowPreferences},
        {"about", ShowAbout},
    };
}

}  // namespace fv::gallery
