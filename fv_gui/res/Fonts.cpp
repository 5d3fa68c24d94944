#include "fv_gui/res/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QString>

namespace fv::res {
namespace {

// The regular face only: the bold one of that folder is hardly bolder and spaced unevenly, while
// the bold Qt makes from the regular face reads as bold and keeps its widths.
constexpr const char kTahomaFile[] = "tahoma.ttf";

bool RegisterTahoma() {
    const QString path = QString::fromLatin1(kTahomaFolder) + QLatin1Char('/') + QString::fromLatin1(kTahomaFile);
    return QFontDatabase::addApplicationFont(path) >= 0;
}

}  // namespace

bool UseDialogFont() {
    static const bool registered = RegisterTahoma();
    (void)registered;
    const QFont font(QString::fromLatin1(kDialogFace), kDialogPointSize);
    QGuiApplication::setFont(font);
    return QFontInfo(font).family() == QLatin1String(kDialogFace);
}

}  // namespace fv::res
