#include "fv_gui/res/Resources.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <gtest/gtest.h>

#include "fv_gui/res/ResourceIds.h"

namespace res = fv::res;

TEST(ResourcesTest, UnknownIdGivesNullImages) {
    EXPECT_TRUE(fv::res::Bitmap(99999).isNull());
    EXPECT_TRUE(fv::res::Icon(99999).isNull());
}

TEST(ResourcesTest, BitmapsHaveTheSizesTheirUsersDrawWith) {
    struct Case { int id; int width; int height; };
    const Case cases[] = {
        {res::kBitmapLampGrey, 64, 64}, {res::kBitmapLampGreyGreen, 64, 64},
        {res::kBitmapLampGreen, 64, 64}, {res::kBitmapLampRed, 64, 64},
        {res::kBitmapAboutPicture, 200, 149},
        {res::kIconLogError, 16, 16}, {res::kIconLogSuccess, 16, 16},
        {res::kIconLogInformation, 16, 16}, {res::kIconLogWarning, 16, 16},
    };
    for (const Case& c : cases) {
        const QPixmap image = res::Bitmap(c.id);
        EXPECT_EQ(image.width(), c.width) << c.id;
        EXPECT_EQ(image.height(), c.height) << c.id;
    }
    for (int id : {res::kIconApplication, res::kIconNotifications, res::kIconLogging,
                   res::kIconGeneral, res::kIconLogFolder, res::kIconTrayAlert,
                   res::kIconTrayActive, res::kIconTrayStopped}) {
        EXPECT_FALSE(res::Icon(id).isNull()) << id;
    }
}

// Drawing through a key-colour mask only works when the background pixels are exactly
// RGB(255,0,255) and no edge pixel is a blend of the key colour with the picture; on a scaled
// screen too, where the artwork is drawn with more pixels for the same size.
TEST(ResourcesTest, KeyColourArtworkHasNoBlendedEdges) {
    for (int id : {res::kBitmapLampGrey, res::kBitmapLampGreyGreen, res::kBitmapLampGreen,
                   res::kBitmapLampRed, res::kBitmapSliderChannel, res::kBitmapSliderThumb})
    for (qreal ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        const QPixmap bitmap = res::Bitmap(id, ratio);
        EXPECT_EQ(bitmap.deviceIndependentSize(), QSizeF(res::Bitmap(id).size())) << id;
        EXPECT_EQ(bitmap.width(), qRound(res::Bitmap(id).width() * ratio)) << id;
        const QImage image = bitmap.toImage();
        ASSERT_FALSE(image.isNull()) << id;
        EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 255)) << id;
        int blended = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                const bool key = c.rgb() == qRgb(255, 0, 255);
                const bool pinkish = c.red() > 200 && c.blue() > 200 && c.green() < 120;
                if (!key && pinkish) ++blended;
                if (c.alpha() != 255) ++blended;
            }
        }
        EXPECT_EQ(blended, 0) << id;
    }
}

// Cleaning the edges leaves the picture itself as drawn.
TEST(ResourcesTest, KeyColourArtworkKeepsItsInterior) {
    QFile file(QStringLiteral(":/art/%1.svg").arg(res::kBitmapLampGreen));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QSvgRenderer renderer(file.readAll());
    QImage plain(64, 64, QImage::Format_ARGB32);
    plain.fill(Qt::transparent);
    QPainter painter(&plain);
    renderer.render(&painter);
    painter.end();
    const QImage image = res::Bitmap(res::kBitmapLampGreen).toImage();
    for (int x = 10; x < 54; ++x) EXPECT_EQ(image.pixel(x, 32), plain.pixel(x, 32)) << x;
}
