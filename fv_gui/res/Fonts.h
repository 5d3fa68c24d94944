// The face the windows were laid out for. Their boxes are measured for 8-point Tahoma; a wider
// stand-in (what fontconfig picks for "Tahoma" when it knows no such face) overflows them.
#pragma once

#include <QFont>

namespace fv::res {

// Where Debian's fonts-wine puts its Tahoma-metric faces; fontconfig does not look there.
inline constexpr const char kTahomaFolder[] = "/usr/share/wine/fonts";
inline constexpr const char kDialogFace[] = "Tahoma";
inline constexpr int kDialogPointSize = 8;

// Registers the Tahoma-metric face with the application (once; later calls do nothing) and
// makes 8-point Tahoma the application's font. True when "Tahoma" now resolves to such a face.
// Needs the QGuiApplication.
bool UseDialogFont();

}  // namespace fv::res
