#include "fv_gui/res/Resources.h"

#include <QFile>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

namespace fv::res {
namespace {

QString ArtPath(int id) { return QStringLiteral(":/art/%1.svg").arg(id); }

}  // namespace

QPixmap Bitmap(int id) {
    if (!QFile::exists(ArtPath(id))) return {};
    QSvgRenderer renderer(ArtPath(id));
    if (!renderer.isValid()) return {};
    QImage image(renderer.defaultSize(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    renderer.render(&painter);
    painter.end();
    return QPixmap::fromImage(image);
}

QIcon Icon(int id) {
    if (!QFile::exists(ArtPath(id))) return {};
    return QIcon(ArtPath(id));
}

}  // namespace fv::res
