#include "fv_gui/res/Resources.h"

#include <QByteArray>
#include <QFile>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <algorithm>

namespace fv::res {
namespace {

QString ArtPath(int id) { return QStringLiteral(":/art/%1.svg").arg(id); }

// The renderer always antialiases, which blends edges into the key colour and leaves a pink
// fringe once the key colour is masked out. Rendering a second time with another background
// tells, per pixel, how much of it was key colour: the pixel becomes the exact key colour when
// that share is half or more, and the unblended picture colour otherwise.
const QByteArray kKeyColour = "#ff00ff";
const QByteArray kProbeColour = "#00ff00";

QImage Render(const QByteArray& svg, qreal pixelRatio) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) return {};
    QImage image(renderer.defaultSize() * pixelRatio, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return image;
}

// The document with the key colour, in any letter case, replaced by the probe colour. Only the
// colour is touched: attribute names are case-sensitive.
QByteArray WithProbeColour(QByteArray svg) {
    const QByteArray lower = svg.toLower();
    for (qsizetype at = lower.indexOf(kKeyColour); at >= 0;
         at = lower.indexOf(kKeyColour, at + kKeyColour.size())) {
        svg.replace(at, kKeyColour.size(), kProbeColour);
    }
    return svg;
}

int Unblend(int blended, int key, double keyShare) {
    const double picture = (blended - keyShare * key) / (1.0 - keyShare);
    return std::clamp(static_cast<int>(picture + 0.5), 0, 255);
}

void SnapKeyColour(QImage& image, const QImage& probe) {
    const QRgb key = qRgb(255, 0, 255);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const auto* other = reinterpret_cast<const QRgb*>(probe.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] == other[x]) continue;
            // Red is 255 in the key colour and 0 in the probe colour.
            const double share = std::clamp((qRed(line[x]) - qRed(other[x])) / 255.0, 0.0, 1.0);
            if (share >= 0.5) {
                line[x] = key;
            } else {
                line[x] = qRgb(Unblend(qRed(line[x]), 255, share),
                               Unblend(qGreen(line[x]), 0, share),
                               Unblend(qBlue(line[x]), 255, share));
            }
        }
    }
}

}  // namespace

QPixmap Bitmap(int id) { return Bitmap(id, 1.0); }

QPixmap Bitmap(int id, qreal pixelRatio) {
    pixelRatio = std::max(pixelRatio, 1.0);
    QFile file(ArtPath(id));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray svg = file.readAll();
    QImage image = Render(svg, pixelRatio);
    if (image.isNull()) return {};
    if (const QByteArray probeSvg = WithProbeColour(svg); probeSvg != svg) {
        const QImage probe = Render(probeSvg, pixelRatio);
        if (probe.size() == image.size()) SnapKeyColour(image, probe);
    }
    image.setDevicePixelRatio(pixelRatio);
    return QPixmap::fromImage(image);
}

QSize LogicalSize(const QPixmap& bitmap) { return bitmap.deviceIndependentSize().toSize(); }

QRectF DevicePart(const QRect& logical, qreal pixelRatio) {
    return {logical.x() * pixelRatio, logical.y() * pixelRatio, logical.width() * pixelRatio,
            logical.height() * pixelRatio};
}

QPixmap WithoutKeyColour(const QPixmap& bitmap, QRgb key) {
    if (bitmap.isNull()) return bitmap;
    QImage image = bitmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) == 255 && qRgb(qRed(line[x]), qGreen(line[x]), qBlue(line[x])) ==
                                              qRgb(qRed(key), qGreen(key), qBlue(key))) {
                line[x] = 0;
            }
        }
    }
    return QPixmap::fromImage(image);
}

QIcon Icon(int id) {
    if (!QFile::exists(ArtPath(id))) return {};
    return QIcon(ArtPath(id));
}

}  // namespace fv::res
