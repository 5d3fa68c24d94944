// ferrovane: the desktop program. It takes no options.
#include "fv_gui/app/CMainApp.h"

int main(int argc, char** argv) {
    fv::CMainApp app(argc, argv);
    return app.InitInstance();
}
