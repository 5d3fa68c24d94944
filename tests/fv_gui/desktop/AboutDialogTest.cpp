#include <sys/stat.h>

#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <stdlib.h>
#include <vector>

#include "fv_gui/controls/CLabel.h"
#include "fv_gui/dialogs/AboutGuard.h"
#include "fv_gui/dialogs/AboutTexts.h"
#include "fv_gui/dialogs/CAboutDialog.h"
#include "fv_gui/dialogs/DialogIds.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "fv_gui/richtext/CRichTextView.h"
#include "fv_platform/NamedLock.h"
#include "tests/fv_gui/TestFiles.h"
#include "tests/fv_gui/desktop/ScaledArt.h"

namespace {

using namespace fv::dialogs;

DriverVersionInfo Version(const char* codeName, const char* tag) {
    DriverVersionInfo info{};
    info.major = 2;
    info.minor = 0;
    info.build = 8056;
    std::strncpy(info.codeName, codeName, sizeof info.codeName - 1);
    std::strncpy(info.tag, tag, sizeof info.tag - 1);
    return info;
}

TEST(AboutTexts, VersionLines) {
    EXPECT_EQ(ProgramVersionLine(), "GUI v2.01 (build 9) **BETA**");
    EXPECT_EQ(DriverVersionLine(Version("Duskmere", "*beta*")), "v2.00 (build 8056-Duskmere) *BETA*");

    // Texts that fill their whole field, without a terminating zero, end at the field's end.
    DriverVersionInfo full = Version("", "");
    std::memset(full.codeName, 'c', sizeof full.codeName);
    std::memset(full.tag, 't', sizeof full.tag);
    const std::string line = DriverVersionLine(full);
    EXPECT_EQ(line, "v2.00 (build 8056-" + std::string(kVersionTextSize, 'c') + ") " +
                        std::string(kVersionTextSize, 'T'));
}

class AboutGuardTest : public testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1); }
    fv::test::TempDir dir;
};

TEST_F(AboutGuardTest, OneGuardedBoxAtATime) {
    int shown = 0;
    {
        fv::NamedLock open;
        ASSERT_EQ(open.Create(kAboutGuardName), fv::NamedLock::Result::Acquired);
        EXPECT_FALSE(RunGuarded(kAboutGuardName, [&] { ++shown; }));
        EXPECT_EQ(shown, 0);
    }
    // Once the first box has closed, the next request opens one; while it is open, no other.
    EXPECT_TRUE(RunGuarded(kAboutGuardName, [&] {
        ++shown;
        EXPECT_FALSE(RunGuarded(kAboutGuardName, [&] { ++shown; }));
    }));
    EXPECT_EQ(shown, 1);
}

TEST_F(AboutGuardTest, WithoutALockFileTheBoxStillOpens) {
    ASSERT_EQ(::mkdir((dir / "ferrovane").c_str(), 0777), 0);
    ASSERT_EQ(::chmod((dir / "ferrovane").c_str(), 0777), 0);
    int shown = 0;
    EXPECT_TRUE(RunGuarded(kAboutGuardName, [&] { ++shown; }));
    EXPECT_EQ(shown, 1);
}

std::vector<std::uint32_t> Display(CAboutDialog& about) {
    std::vector<std::uint32_t> copy;
    about.Animation().ReadDisplay([&](std::span<const std::uint32_t> pixels, int, int) {
        copy.assign(pixels.begin(), pixels.end());
    });
    return copy;
}

TEST(AboutDialog, DriverStateAndCredits) {
    CAboutDialog about(Version("Duskmere", "*beta*"), false, nullptr);
    auto* state = qobject_cast<fv::CLabel*>(ControlById(&about, kIdDriverState));
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->text(), "Not loaded.");
    EXPECT_EQ(state->TextColor(), QColor(230, 0, 0));
    EXPECT_EQ(qobject_cast<fv::CLabel*>(ControlById(&about, kIdDriverVersion))->text(),
              "v2.00 (build 8056-Duskmere) *BETA*");
    EXPECT_EQ(ControlById(&about, kIdPictureFrame)->size(), QSize(202, 151));

    const QWidget* place = ControlById(&about, kIdCreditsPlace);
    EXPECT_EQ(about.Credits()->geometry(), place->geometry());
    EXPECT_GT(about.Credits()->ContentHeight(), place->height());

    CAboutDialog loaded(Version("Duskmere", "*BETA*"), true, nullptr);
    EXPECT_EQ(qobject_cast<fv::CLabel*>(ControlById(&loaded, kIdDriverState))->TextColor(), QColor(0, 160, 0));
}

TEST(AboutDialog, AClickRipplesThePictureWhereItLandsAndClosingStopsTheThread) {
    CAboutDialog about(Version("Duskmere", "*BETA*"), true, nullptr);
    about.Animation().Stop();  // steps are taken by hand below
    const std::vector<std::uint32_t> still = Display(about);
    about.Animation().Step();
    EXPECT_EQ(Display(about), still);  // calm water copies the picture

    // Outside the picture: nothing.
    about.OnLeftButtonDown(QPoint(CAboutDialog::kPictureLeft - 1, CAboutDialog::kPictureTop + 20));
    about.Animation().Step();
    EXPECT_EQ(Display(about), still);

    // 20 pixels below the picture's top edge is cell row 149 - 20 from the bottom.
    constexpr int kCol = 50;
    constexpr int kRow = 129;
    about.OnLeftButtonDown(QPoint(CAboutDialog::kPictureLeft + kCol, CAboutDialog::kPictureTop + 20));
    // Whichever field the click went into, three steps bring it to the surface.
    for (int n = 0; n < 3; ++n) about.Animation().Step();
    const std::vector<std::uint32_t> rippled = Display(about);
    int changed = 0;
    for (int i = 0; i < static_cast<int>(rippled.size()); ++i) {
        if (rippled[i] == still[i]) continue;
        ++changed;
        const int dr = i / 200 - kRow;
        const int dc = i % 200 - kCol;
        EXPECT_LT(dr * dr + dc * dc, 40 * 40) << "pixel " << i;
    }
    EXPECT_GT(changed, 100);

    about.Animation().Start({});
    EXPECT_TRUE(about.Animation().Running());
    about.reject();
    EXPECT_FALSE(about.Animation().Running());
}

// On a scaled screen the picture is drawn with the screen's pixels rather than blown up from its
// own, in the place it has at scale 1.
TEST(AboutDialogScaleTest, ThePictureIsDrawnWithTheScreensPixels) {
    CAboutDialog about(Version("Duskmere", "*BETA*"), true, nullptr);
    about.Animation().Stop();
    QWidget* picture = about.ClientArea()->childAt(CAboutDialog::PictureRect().center());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), CAboutDialog::PictureRect());
    const qreal ratio = picture->devicePixelRatioF();
    const QImage shot = picture->grab().toImage();
    ASSERT_EQ(shot.size(), picture->size() * ratio);
    EXPECT_EQ(fv::test::DifferingPixels(shot, {}, fv::res::Bitmap(fv::res::kBitmapAboutPicture, ratio)), 0);
}

}  // namespace
