// The controls on the offscreen platform: what they draw and how they answer input.
#include <QImage>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "fv_gui/controls/CBitmapSlider.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/notify/CStatusLamp.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "tests/fv_gui/desktop/ScaledArt.h"

namespace fv {
namespace {

const QColor kBackground(12, 34, 56);

QWidget* ColouredWindow(QWidget& window) {
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, kBackground);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.resize(100, 100);
    return &window;
}

TEST(StatusLampTest, OutOfRangeStatesShowTheNearestFrame) {
    CStatusLamp lamp;
    lamp.Initialise();
    EXPECT_EQ(lamp.size(), QSize(64, 64));
    lamp.SetLampState(4);
    EXPECT_EQ(lamp.LampState(), 3);
    lamp.SetLampState(-1);
    EXPECT_EQ(lamp.LampState(), 0);
    lamp.SetLampState(2);
    EXPECT_EQ(lamp.LampState(), 2);
}

TEST(StatusLampTest, CornersShowTheWindowAndTheCentreTheLamp) {
    QWidget window;
    ColouredWindow(window);
    auto* lamp = new CStatusLamp(&window);
    lamp->move(10, 10);
    lamp->Initialise();
    lamp->SetLampState(3);
    const QImage shot = window.grab().toImage();
    for (QPoint corner : {QPoint(10, 10), QPoint(73, 10), QPoint(10, 73), QPoint(73, 73)}) {
        EXPECT_EQ(shot.pixelColor(corner), kBackground) << corner.x() << "," << corner.y();
    }
    const QColor centre = shot.pixelColor(42, 42);
    EXPECT_GT(centre.red(), 150);  // the red lamp
    EXPECT_LT(centre.green(), 100);
}

TEST(StatusLampTest, AStateFromAnotherThreadArrivesOnTheLampsThread) {
    CStatusLamp lamp;
    lamp.Initialise();
    QThread* worker = QThread::create([&lamp] { lamp.SetLampState(3); });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_EQ(lamp.LampState(), 0);  // not touched from the worker
    QCoreApplication::processEvents();
    EXPECT_EQ(lamp.LampState(), 3);
}

class BitmapSliderTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(slider.SetBitmaps(res::kBitmapSliderChannel, res::kBitmapSliderThumb, true,
                                      CBitmapSlider::kColourOfPixel, 0, 0));
        slider.SetRange(100, 2000, false);
        slider.SetPageSize(20);
        slider.resize(slider.sizeHint());
        slider.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
        QObject::connect(&slider, &CBitmapSlider::moving, [this](int p) { changes.emplace_back(Change::Moving, p); });
        QObject::connect(&slider, &CBitmapSlider::moved, [this](int p) { changes.emplace_back(Change::Moved, p); });
    }
    enum class Change { Moving, Moved };
    CBitmapSlider slider;
    std::vector<std::pair<Change, int>> changes;  // both signals in the order they came
};

TEST_F(BitmapSliderTest, KeysMoveByPageAndToTheEnds) {
    slider.SetPos(1990);
    QTest::keyClick(&slider, Qt::Key_PageDown);
    EXPECT_EQ(slider.GetPos(), 2000);
    QTest::keyClick(&slider, Qt::Key_Home);
    EXPECT_EQ(slider.GetPos(), 100);
    QTest::keyClick(&slider, Qt::Key_End);
    EXPECT_EQ(slider.GetPos(), 2000);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes.back(), std::make_pair(Change::Moved, 2000));
}

TEST_F(BitmapSliderTest, AClickFarFromTheThumbMovesItUnderTheCursor) {
    slider.SetPos(100);
    const int y = slider.height() / 2;
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(90, y));
    EXPECT_EQ(slider.GetPos(), 1050);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(90, y));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].first, Change::Moving);
    EXPECT_EQ(changes[1], std::make_pair(Change::Moved, 1050));
}

TEST_F(BitmapSliderTest, ThumbShowsTheChannelThroughItsCutAwayCorner) {
    // The thumb's top-left pixel is key colour and must not reach the screen.
    const QImage shot = slider.grab().toImage();
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            ASSERT_NE(shot.pixel(x, y), qRgb(255, 0, 255)) << x << "," << y;
        }
    }
}

// On a scaled screen the artwork is drawn with the screen's pixels, not blown up from its own,
// and the slider keeps the size it has at scale 1.
TEST(BitmapSliderScaleTest, ThumbIsDrawnWithTheScreensPixels) {
    CBitmapSlider slider;
    ASSERT_TRUE(slider.SetBitmaps(res::kBitmapSliderChannel, res::kBitmapSliderThumb, true,
                                  CBitmapSlider::kColourOfPixel, 0, 0));
    slider.SetRange(0, 100, false);
    slider.SetPos(37);
    EXPECT_EQ(slider.sizeHint(), res::Bitmap(res::kBitmapSliderChannel).size());
    slider.resize(slider.sizeHint());
    const qreal ratio = slider.devicePixelRatioF();
    const QImage shot = slider.grab().toImage();
    EXPECT_EQ(shot.size(), slider.size() * ratio);

    const QPixmap thumb = res::Bitmap(res::kBitmapSliderThumb, ratio);
    const int top = (slider.height() - res::Bitmap(res::kBitmapSliderThumb).height()) / 2;
    int found = -1;
    for (int x = 0; x + thumb.width() <= shot.width() && found < 0; ++x) {
        if (test::DifferingPixels(shot, QPoint(x, qRound(top * ratio)), thumb) == 0) found = x;
    }
    ASSERT_GE(found, 0) << "the thumb as drawn for the screen is nowhere in the slider";
    EXPECT_EQ(found % qRound(ratio), 0);
}

TEST(BitmapSliderMissingArtTest, UnknownBitmapsDrawNothingAndStillClamp) {
    CBitmapSlider slider;
    EXPECT_FALSE(slider.SetBitmaps(99998, 99999, true, CBitmapSlider::kColourOfPixel, 500, 500));
    slider.SetRange(2000, 100, true);  // reversed
    slider.SetPos(5000);
    EXPECT_EQ(slider.GetPos(), 2000);
    (void)slider.grab();
}

TEST(FlatButtonTest, DisabledButtonHasTheDisabledFaceAndEmbossedText) {
    CFlatButton button(QStringLiteral("Stop"));
    button.resize(80, 24);
    button.setEnabled(false);
    const QImage shot = button.grab().toImage();
    EXPECT_EQ(shot.pixelColor(4, 4), QColor(222, 222, 222));
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(200, 200, 200));  // one-colour border
    // The white copy under the text, lighter than any face (antialiased glyphs blend it a little).
    bool highlight = false;
    for (int y = 2; y < 22; ++y) {
        for (int x = 2; x < 78; ++x) highlight |= qGray(shot.pixel(x, y)) >= 250;
    }
    EXPECT_TRUE(highlight);
    button.setEnabled(true);
    EXPECT_EQ(button.grab().toImage().pixelColor(4, 4), QColor(230, 230, 230));
}

}  // namespace
}  // namespace fv
