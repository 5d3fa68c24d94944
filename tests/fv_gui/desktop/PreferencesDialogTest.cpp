#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <stdlib.h>

#include "fv_gui/controls/CBitmapSlider.h"
#include "fv_gui/controls/CFlatComboBox.h"
#include "fv_gui/dialogs/CPreferencesDialog.h"
#include "fv_gui/dialogs/DialogIds.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/registry/Registry.h"
#include "tests/fv_gui/TestFiles.h"

namespace {

using namespace fv::dialogs;
namespace reg = fv::registry;

constexpr char kProgram[] = "/opt/ferrovane/bin/ferrovane";
constexpr char kSettingsKey[] = "Software\\Ferrovane\\Settings";

class PreferencesTest : public testing::Test {
protected:
    void SetUp() override {
        ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    }

    std::optional<std::uint32_t> Stored(const char* name) const {
        return reg::QueryDword(reg::Hive::CurrentUser, kSettingsKey, name);
    }

    // A dialog over fresh settings read from the registry as it is now.
    void Open() {
        dialog.reset();
        settings.emplace(kProgram);
        dialog.emplace(*settings, applied, nullptr, hooks);
    }
    template <class W>
    W* Control(int id) {
        auto* w = qobject_cast<W*>(ControlById(&*dialog, id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    void Click(int id) { QTest::mouseClick(Control<QPushButton>(id), Qt::LeftButton); }

    fv::test::TempDir dir;
    PreferencesHooks hooks;
    bool applied = false;
    std::optional<fv::Settings> settings;
    std::optional<CPreferencesDialog> dialog;
};

TEST_F(PreferencesTest, WaitIsEditedInWholeSecondsAndStoredInMilliseconds) {
    ASSERT_TRUE(reg::SetDword(reg::Hive::CurrentUser, kSettingsKey, "PopupTimeout", 120000));
    Open();
    auto* wait = Control<QLineEdit>(kIdWaitSeconds);
    EXPECT_EQ(wait->text(), "120");
    wait->selectAll();
    QTest::keyClicks(wait, "5");
    Click(kIdOk);
    EXPECT_TRUE(applied);
    EXPECT_EQ(Stored("PopupTimeout"), 5000u);

    // The rest of a second is dropped on the way in and stays dropped.
    ASSERT_TRUE(reg::SetDword(reg::Hive::CurrentUser, kSettingsKey, "PopupTimeout", 1500));
    Open();
    EXPECT_EQ(Control<QLineEdit>(kIdWaitSeconds)->text(), "1");
    Click(kIdOk);
    EXPECT_EQ(Stored("PopupTimeout"), 1000u);

    // Typing stops at three digits; an emptied edit means no wait at all.
    Open();
    wait = Control<QLineEdit>(kIdWaitSeconds);
    wait->clear();
    QTest::keyClicks(wait, "12345");
    EXPECT_EQ(wait->text(), "123");
    wait->clear();
    Click(kIdOk);
    EXPECT_EQ(Stored("PopupTimeout"), 0u);
}

TEST_F(PreferencesTest, SliderRunsFromABigCacheToASmallOne) {
    ASSERT_TRUE(reg::SetDword(reg::Hive::CurrentUser, kSettingsKey, "LogCollectorLimit", 500));
    Open();
    auto* slider = Control<fv::CBitmapSlider>(kIdCollectorSlider);
    EXPECT_EQ(slider->GetPos(), 1600);
    QTest::keyClick(slider, Qt::Key_End);
    Click(kIdOk);
    EXPECT_EQ(Stored("LogCollectorLimit"), 100u);

    // A limit beyond the slider's reach shows at the left end and comes back as its limit.
    ASSERT_TRUE(reg::SetDword(reg::Hive::CurrentUser, kSettingsKey, "LogCollectorLimit", 2500));
    Open();
    EXPECT_EQ(Control<fv::CBitmapSlider>(kIdCollectorSlider)->GetPos(), 100);
    Click(kIdOk);
    EXPECT_EQ(Stored("LogCollectorLimit"), 2000u);
}

TEST_F(PreferencesTest, CancelStoresNothingButTheChosenFolder) {
    int picks = 0;
    std::optional<std::string> answer = "/srv/logs";
    hooks.pickFolder = [&](const std::string& title) {
        ++picks;
        EXPECT_EQ(title, kChooseFolderTitle);
        return answer;
    };
    Open();
    Control<QCheckBox>(kIdBlockedToFile)->setChecked(false);
    Click(kIdChooseFolder);
    EXPECT_EQ(Control<QLabel>(kIdLogFolder)->text(), "/srv/logs/");
    EXPECT_EQ(reg::QueryString(reg::Hive::CurrentUser, kSettingsKey, "LogPath"), "/srv/logs/");

    // A cancelled picker changes nothing.
    answer.reset();
    Click(kIdChooseFolder);
    EXPECT_EQ(picks, 2);
    EXPECT_EQ(settings->LogPath.Value(), "/srv/logs/");

    Click(kIdCancel);
    EXPECT_FALSE(applied);
    EXPECT_EQ(settings->LogBlockedToFile.value, 1u);
    EXPECT_FALSE(Stored("LogBlockedToFile"));

    // "Last saved" shows the stored folder again after the user changes controls.
    Open();
    Control<QCheckBox>(kIdBlockedToFile)->setChecked(false);
    Click(kIdLastSaved);
    EXPECT_EQ(Control<QLabel>(kIdLogFolder)->text(), "/srv/logs/");
    EXPECT_TRUE(Control<QCheckBox>(kIdBlockedToFile)->isChecked());
    QTest::keyClick(&*dialog, Qt::Key_Escape);
    EXPECT_FALSE(applied);
}

TEST_F(PreferencesTest, AMovedProgramIsOfferedToFixItsAutostartEntry) {
    ASSERT_TRUE(reg::SetString(reg::Hive::CurrentUser, reg::kRunKey, reg::kRunValueName, "/old/place/ferrovane"));
    const std::string desktop = reg::AutostartDesktopFile();
    int asked = 0;
    bool yes = false;
    hooks.askYesNo = [&](const std::string& question) {
        ++asked;
        EXPECT_NE(question.find("maybe the application has been moved."), std::string::npos);
        EXPECT_EQ(question.find('\r'), std::string::npos);
        return yes;
    };

    Open();
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(Control<QCheckBox>(kIdStartWithSession)->isChecked());
    EXPECT_EQ(reg::QueryString(reg::Hive::CurrentUser, reg::kRunKey, reg::kRunValueName), "/old/place/ferrovane");

    yes = true;
    Click(kIdLastSaved);  // asked again while the entry is wrong
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(Control<QCheckBox>(kIdStartWithSession)->isChecked());
    EXPECT_EQ(reg::QueryString(reg::Hive::CurrentUser, reg::kRunKey, reg::kRunValueName), kProgram);
    EXPECT_NE(fv::test::ReadFile(desktop).find(kProgram), std::string::npos);

    Click(kIdOk);
    EXPECT_EQ(reg::QueryString(reg::Hive::CurrentUser, reg::kRunKey, reg::kRunValueName), kProgram);

    // Unchecking and applying switches autostart off; its entry stays, empty.
    Open();
    EXPECT_EQ(asked, 2);
    Control<QCheckBox>(kIdStartWithSession)->setChecked(false);
    Click(kIdOk);
    EXPECT_EQ(reg::QueryString(reg::Hive::CurrentUser, reg::kRunKey, reg::kRunValueName), "");
    EXPECT_FALSE(std::filesystem::exists(desktop));
}

TEST_F(PreferencesTest, ApplyKeepsWhatTheUserCannotChange) {
    ASSERT_TRUE(reg::SetDword(reg::Hive::CurrentUser, kSettingsKey, "AutoUpdateEnabled", 1));
    ASSERT_TRUE(reg::SetDword(reg::Hive::CurrentUser, kSettingsKey, "Popup", 7));
    Open();
    auto* autoUpdate = Control<QCheckBox>(kIdAutoUpdate);
    EXPECT_TRUE(autoUpdate->isChecked());
    QTest::mouseClick(autoUpdate, Qt::LeftButton);
    EXPECT_TRUE(autoUpdate->isChecked());
    // A mode the list does not offer leaves nothing selected, and is kept rather than lost.
    EXPECT_EQ(Control<fv::CFlatComboBox>(kIdNotifyList)->currentIndex(), -1);
    Click(kIdOk);
    EXPECT_EQ(Stored("AutoUpdateEnabled"), 1u);
    EXPECT_EQ(Stored("Popup"), 7u);

    Open();
    auto* list = Control<fv::CFlatComboBox>(kIdNotifyList);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(2), "Notify me using an VezEdo");
    list->setCurrentIndex(0);
    Click(kIdOk);
    EXPECT_EQ(Stored("Popup"), 0u);
}

}  // namespace
