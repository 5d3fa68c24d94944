// The preferences and the about box opened from the running main window.
#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>

#include "fv_gui/app/MainMenu.h"
#include "fv_gui/controls/CBitmapSlider.h"
#include "fv_gui/dialogs/CAboutDialog.h"
#include "fv_gui/dialogs/CPreferencesDialog.h"
#include "fv_gui/dialogs/DialogIds.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/notify/CStatusLamp.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/richtext/CRichTextView.h"
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
    ASSERT_TRUE(window->Controller().Session() && window->Controller().Session()->FilteringOn());
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
    EXPECT_EQ(window->Controller().Session()->GrantedCache()->Limit(), 100u);
    // The log moves while filtering goes on, and the status list says where it is now.
    const std::string newLog = dir / "moved/fvconns.log";
    EXPECT_EQ(window->Controller().Session()->Log()->CurrentPath(), newLog);
    EXPECT_TRUE(std::filesystem::exists(newLog));
    EXPECT_TRUE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(StatusTexts().back(), "Logging all to \"" + newLog + "\".");
    EXPECT_EQ(fv::Settings(dir / "program").PopupTimeout.value, 7000u);
}

TEST_F(MainDialogsTest, ClosedPreferencesLeaveStartGreyWithoutASession) {
    HostDriver();
    std::filesystem::remove(Blocklist());
    StartWithHooks();
    ASSERT_EQ(window->Controller().Session(), nullptr);
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
        ChooseSystemMenuItem("About Ferrovane...");
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
    ChooseSystemMenuItem("About Ferrovane...");
    EXPECT_EQ(nestedShown, 0);
    EXPECT_EQ(shownCount, 1);
    window->OnMenuCommand(fv::notify::kCommandAbout);
    EXPECT_EQ(shownCount, 2);
}

// Every control a person reaches says what it is, and every text fits the box it is drawn in
// (in the face the windows were laid out for).
void ExpectNamedAndFitting(QWidget& window) {
    SCOPED_TRACE(window.metaObject()->className());
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window)) continue;
        const QString id = w->objectName() + " " + w->metaObject()->className();
        const QFontMetrics metrics(w->font());
        auto widest = [&](const QString& text) {
            int width = 0;
            for (const QString& line : QString(text).remove(QLatin1Char('&')).split(QLatin1Char('\n')))
                width = std::max(width, metrics.horizontalAdvance(line));
            return width;
        };
        const bool control = w->focusPolicy() != Qt::NoFocus || qobject_cast<fv::CBitmapSlider*>(w) ||
                             qobject_cast<fv::CStatusLamp*>(w) || qobject_cast<fv::CRichTextView*>(w);
        // Scroll bars and viewports are parts of the control that holds them.
        if (control && !qobject_cast<QScrollBar*>(w) && w->parentWidget() &&
            !qobject_cast<QAbstractScrollArea*>(w->parentWidget())) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            ASSERT_NE(a, nullptr) << id.toStdString();
            EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << id.toStdString() << " has no accessible name";
        }
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty() && label->textFormat() != Qt::RichText) {
            const QRect box = label->contentsRect();
            if (label->wordWrap()) {
                EXPECT_LE(metrics.boundingRect(box, Qt::TextWordWrap, label->text()).height(), box.height())
                    << id.toStdString() << ": " << label->text().toStdString();
            } else {
                EXPECT_LE(widest(label->text()), box.width()) << id.toStdString() << ": " << label->text().toStdString();
            }
        } else if (auto* button = qobject_cast<QPushButton*>(w); button && !button->text().isEmpty()) {
            EXPECT_LE(widest(button->text()), button->width() - 4) << id.toStdString() << ": " << button->text().toStdString();
        } else if (auto* check = qobject_cast<QAbstractButton*>(w); check && !check->text().isEmpty()) {
            EXPECT_LE(check->sizeHint().width(), check->width()) << id.toStdString() << ": " << check->text().toStdString();
        } else if (auto* group = qobject_cast<QGroupBox*>(w); group && !group->title().isEmpty()) {
            EXPECT_LE(widest(group->title()), group->width() - 16) << id.toStdString() << ": " << group->title().toStdString();
        }
    }
}

TEST_F(MainDialogsTest, EveryControlIsNamedAndEveryTextFitsItsBox) {
    HostDriver();
    StartWithHooks();
    window->show();
    ExpectNamedAndFitting(*window);
    int checked = 0;
    onShown = [&](QDialog& dialog) {
        ExpectNamedAndFitting(dialog);
        ++checked;
    };
    window->OnMenuCommand(fv::kCommandPreferences);
    window->OnMenuCommand(fv::kCommandAboutUnguarded);
    EXPECT_EQ(checked, 2);
}

}  // namespace
