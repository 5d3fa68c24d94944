// ferrovane: the desktop program. It takes no options.
#include <QtGlobal>

#include "fv_gui/app/CMainApp.h"

namespace {

// The program places its own windows (the popup slides out of the panel, the log windows snap),
// which Wayland does not let a client do: on a Wayland session it runs through XWayland unless
// the user chose a platform.
void PreferXWayland() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
}

}  // namespace

int main(int argc, char** argv) {
    PreferXWayland();
    fv::CMainApp app(argc, argv);
    return app.InitInstance();
}
