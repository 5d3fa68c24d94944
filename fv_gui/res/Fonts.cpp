#include "fv_gui/res/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QString>

namespace fv::res {
namespace {

constexpr const char* kTahomaFiles[] = {"tahoma.ttf", "tahomabd.ttf"};

bool RegisterTahoma() {
    bool any = false;
    for (const char* file : kTahomaFiles) {
        const QString path = QString::fromLatin1(kTahomaFolder) + QLatin1Char('/') + QString::fromLatin1(file);
        any = QFontDatabase::addApplicationFont(path) >= 0 || any;
    }
    return any;
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
