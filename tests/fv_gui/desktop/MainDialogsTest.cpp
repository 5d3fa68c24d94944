// The preferences and the about box opened from the running main window.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>

#include "fv_gui/app/MainMenu.h"
#include "fv_gui/controls/CBitmapSlider.h"
#include "fv_gui/dialogs/CAboutDialog.h"
#include "fv_gui/dialogs/CPreferencesDialog.h"
#include "fv_gui/dialogs/DialogIds.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/notify/WindowCommands.h"
#include "tests/fv_gui/HostedDriver.h"
#include "tests/fv_gui/desktop/MainWindowFixture.h"

namespace {

using namespace fv::test;
using fv::dialogs::ControlById;

class MainDialogsTest : public MainWindowFixture {
protected:
    void HostDriver(bool choose = true) {
        driver = std::make_unique<HostedDriver>(dir / "dev");
        ASSERT_TRUE(driver->Loaded());
        driver->Add("eth0");
        if (choose) Configure([](fv::Settings& s) { s.SelectedAdapter.Set("eth0"); });
    }
    // The main window with the dialog hooks of this test.
    fv::CMainDialog& StartWithHooks() {
        fv::CMainDialog::Services services = MakeServices();
        services.preferences.pickFolder = [this](const std::string&) { return std::optional(pickedFolder); };
        services.preferences.askYesNo = [](const std::string&) { return false; };
        services.dialogShown = [this](QDialog& dialog) {
            ++shownCount;
            if (onShown) onShown(dialog);
            if (dialog.isVisible()) dialog.reject();  // whatever the test left open
        };
        window = std::make_unique<fv::CMainDialog>(std::move(services));
        window->OnInitDialog();
        QApplication::processEvents();
        return *window;
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        driver.reset();
    }

    template <typename T = QWidget>
    static T* Child(QDialog& dialog, int id) {
        return qobject_cast<T*>(ControlById(&dialog, id));
    }

    std::unique_ptr<HostedDriver> driver;
    std::string pickedFolder;
    int shownCount = 0;
    std::function<void(QDialog&)> onShown;
};

TEST_F(MainDialogsTest, AppliedPreferencesReachTheRunningWindow) {
    HostDriver();
    Configure([](fv::Settings& s) { s.AutoStart.Set(1); });
    StartWithHooks();
    ASSERT_TRUE(window->Session() && window->Session()->FilteringOn());
    const std::string oldLog = dir / "logs/fvconns.log";
    ASSERT_TRUE(std::filesystem::exists(oldLog));
    std::filesystem::create_directories(dir / "moved");
    pickedFolder = dir / "moved";

    bool trayGreyWhileOpen = false;
    onShown = [&](QDialog& dialog) {
        trayGreyWhileOpen = !window->TrayItem(fv::kTrayStartStopPosition)->isEnabled() &&
                            !window->TrayItem(fv::kTrayQuitPosition)->isEnabled();
        Child<QLineEdit>(dialog, fv::dialogs::kIdWaitSeconds)->setText(QStringLiteral("7"));
        Child<fv::CBitmapSlider>(dialog, fv::dialogs::kIdCollectorSlider)->SetPos(2000);
        Child<QPushButton>(dialog, fv::dialogs::kIdChooseFolder)->click();
        Child<QPushButton>(dialog, fv::dialogs::kIdOk)->click();
    };
    window->OnMenuCommand(fv::kCommandPreferences);
    ASSERT_EQ(shownCount, 1);
    EXPECT_TRUE(trayGreyWhileOpen);
    EXPECT_TRUE(window->TrayItem(fv::kTrayStartStopPosition)->isEnabled());
    EXPECT_TRUE(window->TrayItem(fv::kTrayQuitPosition)->isEnabled());

    EXPECT_EQ(window->BalloonMinimumGap(), 7000u);
    EXPECT_EQ(window->Notifier().Animation().MinimumGap(), 7000u);
    EXPECT_EQ(window->Session()->GrantedCache()->Limit(), 100u);
    // The log moves while filtering goes on, and the status list says where it is now.
    const std::string newLog = dir / "moved/fvconns.log";
    EXPECT_EQ(window->Session()->Log()->CurrentPath(), newLog);
    EXPECT_TRUE(std::filesystem::exists(newLog));
    EXPECT_TRUE(window->Session()->FilteringOn());
    EXPECT_EQ(StatusTexts().back(), "Logging all to \"" + newLog + "\".");
    EXPECT_EQ(fv::Settings(dir / "program").PopupTimeout.value, 7000u);
}

TEST_F(MainDialogsTest, ClosedPreferencesLeaveStartGreyWithoutASession) {
    HostDriver();
    std::filesystem::remove(Blocklist());
    StartWithHooks();
    ASSERT_EQ(window->Session(), nullptr);
    window->OnMenuCommand(fv::kCommandPreferences);  // cancelled
    EXPECT_EQ(shownCount, 1);
    EXPECT_FALSE(window->TrayItem(fv::kTrayStartStopPosition)->isEnabled());
    EXPECT_TRUE(window->TrayItem(fv::kTrayQuitPosition)->isEnabled());
}

TEST_F(MainDialogsTest, GuardedAboutBoxesOpenOneAtATime) {
    HostDriver();
    StartWithHooks();
    // The menu's box is not guarded: while it is open, a guarded one still opens.
    int nestedShown = -1;
    onShown = [&](QDialog& dialog) {
        EXPECT_NE(qobject_cast<fv::dialogs::CAboutDialog*>(&dialog), nullptr);
        if (nestedShown >= 0) return;
        nestedShown = 0;
        const int before = shownCount;
        window->SysCommand(fv::kSysCommandAbout);
        nestedShown = shownCount - before;
    };
    window->OnMenuCommand(fv::kCommandAboutUnguarded);
    EXPECT_EQ(nestedShown, 1);
    EXPECT_EQ(shownCount, 2);

    // A guarded box refuses the next guarded request until it closes.
    nestedShown = -1;
    shownCount = 0;
    onShown = [&](QDialog&) {
        if (nestedShown >= 0) return;
        nestedShown = 0;
        const int before = shownCount;
        window->OnMenuCommand(fv::notify::kCommandAbout);
        nestedShown = shownCount - before;
    };
    window->SysCommand(fv::kSysCommandAbout);
    EXPECT_EQ(nestedShown, 0);
    EXPECT_EQ(shownCount, 1);
    window->OnMenuCommand(fv::notify::kCommandAbout);
    EXPECT_EQ(shownCount, 2);
}

}  // namespace
