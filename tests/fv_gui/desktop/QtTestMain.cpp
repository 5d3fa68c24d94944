// GoogleTest main for widget tests: one QApplication on the offscreen platform unless the
// environment names another.
#include <QApplication>

#include <gtest/gtest.h>

#include "fv_gui/res/Fonts.h"

// Qt draws large images with its own thread pool, whose tasks pass between threads through
// futexes that ThreadSanitizer cannot see in the uninstrumented (and symbol-less) Qt libraries.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The program's own face, so that what fits in a test fits on screen.
    (void)fv::res::UseDialogFont();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
