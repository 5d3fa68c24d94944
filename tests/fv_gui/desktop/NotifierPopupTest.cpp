// The popup's text in the face and box the main window gives it, and text fitting in general.
#include <QFontInfo>
#include <QRegion>
#include <QtMath>
#include <QTest>

#include <gtest/gtest.h>

#include "fv_gui/controls/TextFit.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "tests/fv_gui/desktop/ScaledArt.h"

namespace {

using namespace fv::notify;

constexpr QRect kTextBox(18, 60, 183, 51);

QImage PopupShowing(const QString& text) {
    CTaskbarNotifier popup;
    popup.Create(nullptr);
    EXPECT_TRUE(popup.SetSkin(fv::res::kNotifierSkin, 255, 0, 255));
    popup.SetTextFont(QStringLiteral("Tahoma"), 80, 0, kFontUnderline);
    popup.SetTextFormat(DT_WORDBREAK);
    popup.SetTextColors(qRgb(0, 0, 140), qRgb(0, 0, 255));
    popup.SetTextRect(kTextBox);
    popup.SetMinimumGap(0);
    popup.Show(text, 10, 3'600'000, 200);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popup.height() >= kTextBox.bottom(); }));
    return popup.grab().toImage();
}

TEST(NotifierPopupTest, TheLineNamingThePacketsPathStaysWholeUnderALongDescription) {
    const QString head = QStringLiteral("A packet to \"") + QString(60, QLatin1Char('w')) +
                         QStringLiteral(" hostile range of a long blocklist entry\" (203.0.113.7) has been blocked!\r\n");
    const QImage icmp = PopupShowing(head + QStringLiteral("Outgoing via \"ICMP\" [src: -- / dst: --]"));
    const QImage udp = PopupShowing(head + QStringLiteral("Outgoing via \"UDP\" [src: 53 / dst: 51000]"));
    EXPECT_NE(icmp, udp);  // the last paragraph shows
}

// On a scaled screen the popup keeps its shape in the desktop's pixels, and its skin and close
// button are drawn with the screen's pixels rather than blown up from their own.
TEST(NotifierScaleTest, SkinAndCloseButtonAreDrawnWithTheScreensPixelsInTheSameShape) {
    constexpr QPoint kClose(189, 33);
    const QRgb key = qRgb(255, 0, 255);
    CTaskbarNotifier popup;
    popup.Create(nullptr);
    ASSERT_TRUE(popup.SetSkin(fv::res::kNotifierSkin, 255, 0, 255));
    ASSERT_TRUE(popup.SetCloseButton(fv::res::kNotifierCloseButton, kClose.x(), kClose.y(), 255, 0, 255));
    popup.SetTextRect(QRect());  // the skin alone
    popup.SetMinimumGap(0);
    const QImage skin = fv::res::Bitmap(fv::res::kNotifierSkin).toImage();
    EXPECT_EQ(popup.SkinSize(), skin.size());
    popup.Show(QStringLiteral("x"), 10, 3'600'000, 200);
    ASSERT_TRUE(QTest::qWaitFor([&] { return popup.size() == skin.size(); }));

    const QRegion shape = popup.mask();
    int misshapen = 0;
    for (int y = 0; y < skin.height(); ++y) {
        for (int x = 0; x < skin.width(); ++x) {
            misshapen += shape.contains(QPoint(x, y)) != ((skin.pixel(x, y) | 0xFF000000u) != (key | 0xFF000000u));
        }
    }
    EXPECT_EQ(misshapen, 0);

    const qreal ratio = popup.devicePixelRatioF();
    const QImage shot = popup.grab().toImage();
    ASSERT_EQ(shot.size(), popup.size() * ratio);
    const QPixmap close = fv::res::Bitmap(fv::res::kNotifierCloseButton, ratio);
    const QSize closeStrip = fv::res::Bitmap(fv::res::kNotifierCloseButton).size();
    const QRect closeBox(kClose, QSize(closeStrip.width() / CTaskbarNotifier::kCloseFrames, closeStrip.height()));
    const auto cutOrCovered = [&](QPoint device) {
        const QPoint at(qFloor(device.x() / ratio), qFloor(device.y() / ratio));
        return !shape.contains(at) || closeBox.contains(at);
    };
    EXPECT_EQ(fv::test::DifferingPixels(shot, {}, fv::res::Bitmap(fv::res::kNotifierSkin, ratio), {}, key, cutOrCovered), 0);
    EXPECT_EQ(fv::test::DifferingPixels(shot, kClose * ratio, close,
                                        QRect(0, 0, close.width() / CTaskbarNotifier::kCloseFrames, close.height())),
              0);
}

TEST(TextFitTest, WrappedTextGivesWayFromItsFirstParagraph) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(8);
    const QFontMetrics metrics(font);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    auto fits = [&](const QString& t) {
        const QRect r = metrics.boundingRect(kTextBox, flags, t);
        return r.width() <= kTextBox.width() && r.height() <= kTextBox.height();
    };
    const QString shortText = QStringLiteral("A packet to \"x\" (1.2.3.4) has been blocked!\r\nOutgoing via \"TCP\"");
    ASSERT_TRUE(fits(shortText));
    EXPECT_EQ(fv::FitWrapped(shortText, metrics, kTextBox, flags), shortText);

    const QString rest = QStringLiteral("\r\nOutgoing via \"ICMP\" [src: -- / dst: --]");
    const QString longText = QStringLiteral("A packet to \"") + QString(300, QLatin1Char('d')).replace(7, 1, ' ') + "\"" + rest;
    const QString fitted = fv::FitWrapped(longText, metrics, kTextBox, flags);
    EXPECT_TRUE(fits(fitted));
    EXPECT_TRUE(fitted.endsWith(QString(fv::kEllipsis) + rest)) << fitted.toStdString();
    EXPECT_TRUE(fitted.startsWith(QStringLiteral("A packet to \"")));

    // A last paragraph too long by itself: the text is cut at its end.
    const QString endless = QStringLiteral("head\n") + QString(400, QLatin1Char('e')).replace(5, 1, ' ');
    const QString cut = fv::FitWrapped(endless, metrics, kTextBox, flags);
    EXPECT_TRUE(fits(cut));
    EXPECT_TRUE(cut.startsWith(QStringLiteral("head\n")));
    EXPECT_TRUE(cut.endsWith(fv::kEllipsis));
    // A box too small for anything leaves the ellipsis alone.
    EXPECT_EQ(fv::FitWrapped(endless, metrics, QRect(0, 0, 2, 2), flags), QString(fv::kEllipsis));
}

TEST(TextFitTest, PixelSizeIsTheLargestThatFitsAndNeverBelowTheSmallest) {
    auto width = [](int pixels) { return pixels * 10; };
    EXPECT_EQ(fv::FittingPixelSize(11, 8, 200, width), 11);
    EXPECT_EQ(fv::FittingPixelSize(11, 8, 95, width), 9);
    EXPECT_EQ(fv::FittingPixelSize(11, 8, 10, width), 8);
    EXPECT_EQ(fv::FittingPixelSize(8, 8, 10, width), 8);
}

TEST(DialogFontTest, TahomaIsATahomaMetricFaceAndTheApplicationsFont) {
    EXPECT_EQ(QFontInfo(QFont(QStringLiteral("Tahoma"))).family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(QFontInfo(QFont(QStringLiteral("Tahoma"), 8, QFont::Bold)).family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(QApplication::font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(QApplication::font().pointSize(), 8);
}

}  // namespace
