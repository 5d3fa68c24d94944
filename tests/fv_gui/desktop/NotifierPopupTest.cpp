// The popup's text in the face and box the main window gives it, and text fitting in general.
#include <QFontInfo>
#include <QTest>

#include <gtest/gtest.h>

#include "fv_gui/controls/TextFit.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/res/ResourceIds.h"

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
