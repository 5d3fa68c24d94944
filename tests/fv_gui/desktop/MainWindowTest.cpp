// The main window against a driver hosted on simulated adapters (or a scripted one): start-up
// paths, the Start/Stop state, counters, hiding into the tray, a second instance, SIGTERM and a
// blocked packet reaching the log window and the popup.
#include <arpa/inet.h>

#include <QAction>
#include <QCloseEvent>
#include <QTimer>
#include <QTimerEvent>
#include <QtTest/qtestspontaneevent.h>

#include <csignal>

#include "fv_gui/app/CAdapterComboBox.h"
#include "fv_gui/app/CMainApp.h"
#include "fv_gui/app/MainMenu.h"
#include "fv_gui/controls/CFlatButton.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/notify/CStatusLamp.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/notify/WindowCommands.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_platform/NamedLock.h"
#include "tests/fv_gui/HostedDriver.h"
#include "tests/fv_gui/ScriptedDriver.h"
#include "tests/fv_gui/desktop/MainWindowFixture.h"

namespace {

using namespace fv::test;
using fv::CMainDialog;
namespace texts = fv::texts;

constexpr const char kAdapter[] = "eth0";

class MainWindowTest : public MainWindowFixture {
protected:
    // A driver with one simulated adapter, chosen in the settings unless told otherwise.
    void HostDriver(bool choose = true) {
        driver = std::make_unique<HostedDriver>(dir / "dev");
        ASSERT_TRUE(driver->Loaded());
        driver->Add(kAdapter);
        if (choose) Configure([](fv::Settings& s) { s.SelectedAdapter.Set(kAdapter); });
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        driver.reset();
    }
    fv::CFlatButton* StartButton() const { return Control<fv::CFlatButton>(fv::kStartStopButton); }

    std::unique_ptr<HostedDriver> driver;
};

TEST_F(MainWindowTest, WithoutDriverTheProgramSaysSoEndsAndLetsTheLockGo) {
    window = std::make_unique<CMainDialog>(MakeServices());
    window->RunModal();
    EXPECT_TRUE(window->Ended());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, texts::kDriverNotLoadedBox);
    EXPECT_TRUE(HasStatus(texts::kBadInstallation));
    EXPECT_TRUE(shell.icons.empty());
    window.reset();
    fv::NamedLock later;
    EXPECT_EQ(later.Create("FerrovaneStarted"), fv::NamedLock::Result::Acquired);
}

TEST_F(MainWindowTest, WrongDriverBuildShowsTheSessionsTextAndEnds) {
    ScriptedDriver scripted(dir / "dev");
    {
        auto lock = scripted.Lock();
        scripted.version.build = 8055;
    }
    ASSERT_TRUE(scripted.Serve());
    window = std::make_unique<CMainDialog>(MakeServices());
    window->RunModal();
    EXPECT_TRUE(window->Ended());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text.rfind("Version incompatibility!\r\n", 0), 0u);
    EXPECT_EQ(window->Controller().Session(), nullptr);
}

TEST_F(MainWindowTest, AUserTheDriverRefusesIsToldHowToJoinItsGroupAndEnds) {
    ScriptedDriver scripted(dir / "dev");
    {
        auto lock = scripted.Lock();
        scripted.openStatus = STATUS_ACCESS_DENIED;
    }
    ASSERT_TRUE(scripted.Serve());
    window = std::make_unique<CMainDialog>(MakeServices());
    window->RunModal();
    EXPECT_TRUE(window->Ended());
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, fv::AccessDeniedText(fv::CurrentDeviceUser()));
    EXPECT_EQ(sink.messages[0].kind, fv::MessageKind::Error);
    EXPECT_TRUE(HasStatus(fv::kAccessDeniedRow));
    EXPECT_FALSE(HasStatus(texts::kBadInstallation));
    EXPECT_EQ(window->Controller().Session(), nullptr);
}

TEST_F(MainWindowTest, NoAdapterChosenWarnsAndLeavesStartDisabled) {
    HostDriver(false);
    Start();
    EXPECT_FALSE(window->Ended());
    const auto rows = StatusTexts();
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[rows.size() - 2], texts::kNoAdapter);
    EXPECT_EQ(rows.back(), texts::kNoAdapterHint);
    EXPECT_EQ(window->StatusList().RowData(0), 0u);
    EXPECT_FALSE(StartButton()->isEnabled());
    EXPECT_FALSE(window->TrayItem(fv::kTrayStartStopPosition)->isEnabled());
    // The adapter is listed; choosing it is stored at once.
    auto& selector = window->AdapterSelector();
    ASSERT_EQ(selector.count(), 2);
    EXPECT_EQ(selector.itemText(1), QStringLiteral("Simulated eth0 (eth0)"));
    selector.setCurrentIndex(1);
    selector.OnSelectionDone();
    EXPECT_EQ(fv::Settings(dir / "program").SelectedAdapter.Value(), kAdapter);
}

TEST_F(MainWindowTest, UnreadableBlocklistLeavesNoSessionAndNoRow) {
    HostDriver();
    Configure([&](fv::Settings& s) { s.IPDB.Set(dir / "missing.p2p"); });
    Start();
    EXPECT_EQ(window->Controller().Session(), nullptr);
    EXPECT_FALSE(window->AdapterSelector().isEnabled());
    EXPECT_FALSE(StartButton()->isEnabled());
    for (const auto& row : StatusTexts()) EXPECT_EQ(row.find("IP database"), std::string::npos) << row;
    window->ToggleFiltering();  // nothing to start
    EXPECT_EQ(StartButton()->text(), QStringLiteral("Start"));
}

TEST_F(MainWindowTest, AutoStartOffLoadsTheTableAndWaitsForStart) {
    HostDriver();
    Start();
    const auto rows = StatusTexts();
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[rows.size() - 2], texts::kTableLoaded);
    EXPECT_EQ(rows.back(), "There are 259 known IPs in 2 ranges.");
    EXPECT_TRUE(HasStatus("Using \"" + Blocklist() + "\" as IP database."));
    EXPECT_TRUE(StartButton()->isEnabled());
    EXPECT_EQ(StartButton()->text(), QStringLiteral("Start"));
    EXPECT_FALSE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(window->Lamp().LampState(), fv::kLampReady);
    EXPECT_EQ(Control<fv::CLabel>(fv::kMacAddressLabel)->text(), QStringLiteral("02-00-00-00-00-01"));

    // Toggling on and off: texts, lamp and tray follow.
    window->ToggleFiltering();
    EXPECT_TRUE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(StartButton()->text(), QStringLiteral("Stop"));
    EXPECT_EQ(window->TrayItem(fv::kTrayStartStopPosition)->text(), QStringLiteral("Stop"));
    EXPECT_EQ(trayIcons.back(), fv::res::kIconTrayActive);
    EXPECT_EQ(StatusTexts().back(), texts::kStarted);
    EXPECT_FALSE(window->AdapterSelector().isEnabled());
    window->ToggleFiltering();
    EXPECT_FALSE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(StartButton()->text(), QStringLiteral("Start"));
    EXPECT_EQ(window->TrayItem(fv::kTrayStartStopPosition)->text(), QStringLiteral("Start"));
    EXPECT_EQ(trayIcons.back(), fv::res::kIconTrayStopped);
    EXPECT_EQ(window->Lamp().LampState(), fv::kLampReady);
    const auto after = StatusTexts();
    EXPECT_EQ(after[after.size() - 2], texts::kStopping);
    EXPECT_EQ(after.back(), texts::kStopped);
    EXPECT_TRUE(window->AdapterSelector().isEnabled());
}

TEST_F(MainWindowTest, StartPressedWhileAStopIsUnderwayIsIgnored) {
    HostDriver();
    Start();
    window->ToggleFiltering();
    ASSERT_TRUE(window->Controller().Session()->FilteringOn());
    duringSleep = [&] { QTest::mouseClick(StartButton(), Qt::LeftButton); };
    window->ToggleFiltering();
    EXPECT_FALSE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(StartButton()->text(), QStringLiteral("Start"));
    EXPECT_EQ(StatusTexts().back(), texts::kStopped);
}

bool SameIcon(const QIcon& a, int id) {
    return a.pixmap(16, 16).toImage() == fv::res::Icon(id).pixmap(16, 16).toImage();
}

TEST_F(MainWindowTest, AStopEndsABlinkUnderwayAndTheTraySaysStopped) {
    HostDriver();
    Configure([](fv::Settings& s) { s.TrayAlwaysVisible.Set(1); });
    Start();
    ASSERT_TRUE(window->IsTrayIconShown());
    window->ToggleFiltering();
    ASSERT_TRUE(window->Controller().Session()->FilteringOn());
    window->BlinkTrayIcon();
    ASSERT_TRUE(WaitFor([&] { return SameIcon(shell.icons.begin()->second.icon, fv::res::kIconTrayAlert); }));
    window->ToggleFiltering();
    ASSERT_TRUE(WaitFor([&] { return !window->IsBlinking(); }));
    QApplication::processEvents();
    EXPECT_TRUE(SameIcon(shell.icons.begin()->second.icon, fv::res::kIconTrayStopped));
    EXPECT_EQ(StatusTexts().back(), texts::kStopped);
}

TEST_F(MainWindowTest, TheStopsPauseKeepsTheWindowServedAndTurnsCommandsAway) {
    HostDriver();
    auto services = MakeServices();
    services.sleep = nullptr;  // the program's own pause
    window = std::make_unique<CMainDialog>(services);
    window->OnInitDialog();
    window->ToggleFiltering();
    ASSERT_TRUE(window->Controller().Session()->FilteringOn());
    bool served = false;
    std::string lastRow;
    QTimer::singleShot(50, window.get(), [&] {
        served = true;
        lastRow = StatusTexts().back();
        QTest::mouseClick(StartButton(), Qt::LeftButton);
        window->ReloadIpTable();
    });
    window->ToggleFiltering();
    EXPECT_TRUE(served) << "the pause must not block the window's events";
    EXPECT_EQ(lastRow, texts::kStopping);
    EXPECT_FALSE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(StatusTexts().back(), texts::kStopped);
    EXPECT_EQ(trayIcons.back(), fv::res::kIconTrayStopped);
}

TEST_F(MainWindowTest, AutoStartOnFiltersAtOnceAndQuitSwitchesItOff) {
    ScriptedDriver scripted(dir / "dev");
    {
        auto lock = scripted.Lock();
        scripted.adapters[kAdapter] = FakeAdapter{};
        scripted.bindings = BindingListBytes({{"fv-eth0", kAdapter}});
    }
    ASSERT_TRUE(scripted.Serve());
    Configure([](fv::Settings& s) {
        s.SelectedAdapter.Set(kAdapter);
        s.AutoStart.Set(1);
    });
    Start();
    EXPECT_TRUE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(StartButton()->text(), QStringLiteral("Stop"));
    EXPECT_TRUE(StartButton()->isEnabled());
    EXPECT_EQ(trayIcons.back(), fv::res::kIconTrayActive);
    EXPECT_EQ(window->Lamp().LampState(), fv::kLampFiltering);
    EXPECT_EQ(StatusTexts().back(), "There are 259 known IPs in 2 ranges.");
    {
        auto lock = scripted.Lock();
        EXPECT_TRUE(scripted.filtering);
    }
    window->OnMenuCommand(fv::notify::kCommandQuit);
    EXPECT_TRUE(window->Ended());
    window.reset();
    auto lock = scripted.Lock();
    EXPECT_FALSE(scripted.filtering);
}

TEST_F(MainWindowTest, ResetButtonsShowZeroAtOnce) {
    HostDriver();
    Configure([](fv::Settings&) {});
    {
        fv::PacketStatistics stats;
        stats.CountBlocked();
        stats.CountGranted();
        stats.Save();
    }
    Start();
    EXPECT_EQ(Control<fv::CLabel>(fv::kBlockedCounter)->text(), QStringLiteral("0 / 1"));
    QTest::mouseClick(Control<fv::CFlatButton>(fv::kResetBlockedButton), Qt::LeftButton);
    EXPECT_EQ(Control<fv::CLabel>(fv::kBlockedCounter)->text(), QStringLiteral("0 / 0"));
    EXPECT_EQ(Control<fv::CLabel>(fv::kGrantedCounter)->text(), QStringLiteral("0 / 1"));
    QTest::mouseClick(Control<fv::CFlatButton>(fv::kResetGrantedButton), Qt::LeftButton);
    EXPECT_EQ(Control<fv::CLabel>(fv::kGrantedCounter)->text(), QStringLiteral("0 / 0"));
    window.reset();
    fv::PacketStatistics stored;
    EXPECT_EQ(stored.GetTotalBlocked(), 0);
    EXPECT_EQ(stored.GetTotalGranted(), 0);
}

TEST_F(MainWindowTest, CountersOfTheWidestValuesStayInsideTheirLabels) {
    HostDriver();
    Configure([](fv::Settings&) {});
    Start();
    for (int id : {fv::kBlockedCounter, fv::kGrantedCounter}) {
        auto* label = Control<fv::CLabel>(id);
        for (const char* text : {"240 / 1234567890363", "9223372036854775807 / 9223372036854775807",
                                 "-9223372036854775808 / -9223372036854775808"}) {
            label->SetText(QString::fromLatin1(text));
            const QImage shown = label->grab().toImage();
            auto inkInColumn = [&](int x) {
                for (int y = 0; y < shown.height(); ++y) {
                    if (qGray(shown.pixel(x, y)) < 128) return true;
                }
                return false;
            };
            int rightmost = -1;
            for (int x = 0; x < shown.width(); ++x) {
                if (inkInColumn(x)) rightmost = x;
            }
            EXPECT_GT(rightmost, 0) << text;
            EXPECT_LT(rightmost, shown.width() - 1) << text << ": drawn up to the label's edge";
        }
    }
}

TEST_F(MainWindowTest, EscAndCloseBoxHideIntoTheTrayWhileACloseFromOutsideEnds) {
    HostDriver();
    Configure([](fv::Settings& s) { s.TrayAlwaysVisible.Set(0); });
    Start();
    ASSERT_TRUE(window->isVisible());
    EXPECT_TRUE(shell.icons.empty());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Ended());
    EXPECT_EQ(shell.icons.size(), 1u);

    window->OnMenuCommand(fv::notify::kCommandShow);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(shell.icons.empty());
    window->OnWindowCommand(fv::notify::WindowCommand::Close);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Ended());

    // The window manager's close (Alt+F4) is the close box too; filtering goes on.
    window->OnMenuCommand(fv::notify::kCommandShow);
    ASSERT_TRUE(window->isVisible());
    QCloseEvent fromWindowManager;
    QSpontaneKeyEvent::setSpontaneous(&fromWindowManager);
    qApp->notify(window.get(), &fromWindowManager);  // sendEvent would clear the mark
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->Ended());

    QCloseEvent close;
    QApplication::sendEvent(window.get(), &close);
    EXPECT_TRUE(window->Ended());
}

TEST_F(MainWindowTest, StartedMinimisedWithoutATrayTheWindowShows) {
    HostDriver();
    for (int alwaysVisible : {1, 0}) {
        Configure([&](fv::Settings& s) {
            s.LoadMinimized.Set(1);
            s.TrayAlwaysVisible.Set(alwaysVisible);
        });
        shell.refuseAll = true;
        Start();
        ASSERT_TRUE(WaitFor([&] { return window->isVisible(); }, 2000)) << alwaysVisible;
        EXPECT_FALSE(window->isMinimized());
        window.reset();
    }
    // With a tray the window stays in it.
    shell.refuseAll = false;
    Start();
    QApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->IsTrayIconShown());
}

TEST_F(MainWindowTest, SecondInstanceIsRefusedAndTouchesNothing) {
    HostDriver();
    Start();
    const std::size_t iconCalls = shell.calls.size();
    CMainDialog second(MakeServices());
    EXPECT_EQ(second.RunModal(), fv::kResultOk);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, texts::kAlreadyRunning);
    EXPECT_EQ(second.Controller().Session(), nullptr);
    EXPECT_EQ(second.Controller().Statistics(), nullptr);
    EXPECT_EQ(shell.calls.size(), iconCalls);
    EXPECT_FALSE(window->Ended());
}

TEST_F(MainWindowTest, TerminationSignalEndsTheRunAsACloseFromOutside) {
    HostDriver();
    window = std::make_unique<CMainDialog>(MakeServices());
    fv::TerminationSignal terminate(window.get());
    QTimer::singleShot(50, [] { std::raise(SIGTERM); });
    EXPECT_EQ(window->RunModal(), fv::kResultCancel);
}

TEST_F(MainWindowTest, BlockedTcpPacketReachesLogWindowCounterAndPopup) {
    HostDriver();
    Configure([](fv::Settings& s) {
        s.AutoStart.Set(1);
        s.Popup.Set(2);
    });
    Start();
    ASSERT_TRUE(WaitFor([&] { return window->BlockedLog() != nullptr; }));
    driver->Stack().Send(HostedDriver::Outgoing(Address(203, 0, 113, 5), IPPROTO_TCP, 1025, 80));
    ASSERT_TRUE(WaitFor([&] { return window->BlockedLog() && window->BlockedLog()->List().RowCount() == 1; }));
    const fv::CLogListCtrl& list = window->BlockedLog()->List();
    EXPECT_EQ(list.RowText(0, fv::CLogListCtrl::kColumnText).toStdString(),
              "Packet to  \"Listed Net\" ( 203.0.113.5 ) blocked. [protocol: TCP - src: 1025 / dst: 80]");
    EXPECT_EQ(list.RowData(0), Address(203, 0, 113, 5));
    ASSERT_TRUE(WaitFor([&] { return !window->Notifier().Text().isEmpty(); }));
    EXPECT_EQ(window->Notifier().Text().toStdString(),
              "A packet to \"Listed Net\" (203.0.113.5) has been blocked!\r\nOutgoing via \"TCP\" [src: 1025 / dst: 80]");
    EXPECT_TRUE(WaitFor([&] { return Control<fv::CLabel>(fv::kBlockedCounter)->text() == QStringLiteral("1 / 1"); }));
}

TEST_F(MainWindowTest, WithoutATrayEscKeepsTheWindowReachable) {
    HostDriver();
    Configure([](fv::Settings& s) { s.TrayAlwaysVisible.Set(0); });
    Start();
    shell.refuseAll = true;
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, LogFileWebPagesAndAlwaysOnTop) {
    HostDriver();
    Configure([](fv::Settings& s) { s.BaseLogFilename.Set("viewed.log"); });
    Start();
    window->OnMenuCommand(fv::kCommandViewLog);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, texts::kNoLogFile);
    WriteFile(dir / "logs/viewed.log", "x\r\n");
    window->OnMenuCommand(fv::kCommandViewLog);
    window->OnMenuCommand(fv::kCommandWebSupport);
    window->OnMenuCommand(fv::kCommandDonate);
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(dir / "logs/viewed.log")));
    EXPECT_NE(opened[1], opened[2]);
    EXPECT_EQ(opened[1].scheme(), QStringLiteral("https"));

    ChooseSystemMenuItem("Always on top");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(fv::Settings(dir / "program").AlwaysOnTop.value, 1u);
    ChooseSystemMenuItem("Always on top");
    EXPECT_FALSE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(fv::Settings(dir / "program").AlwaysOnTop.value, 0u);
}

TEST_F(MainWindowTest, AutoUpdateReloadsOnItsTimerAndFiltersWithTheNewSession) {
    HostDriver();
    Configure([](fv::Settings& s) { s.AutoUpdateEnabled.Set(1); });
    Start();
    ASSERT_TRUE(window->Controller().ReloadTimerRunning());
    EXPECT_FALSE(window->Controller().Session()->FilteringOn());

    // The two minutes pass: the timer's event is delivered at once instead.
    QTimerEvent tick(window->Controller().ReloadTimerId());
    QApplication::sendEvent(&window->Controller(), &tick);
    ASSERT_NE(window->Controller().Session(), nullptr);
    EXPECT_TRUE(window->Controller().Session()->FilteringOn());
    EXPECT_TRUE(HasStatus(texts::kTableReloaded));
    EXPECT_TRUE(window->Controller().ReloadTimerRunning());  // started again for the next period
}

TEST_F(MainWindowTest, LoadCancelledKeepsTheTableAndReloadRestartsFiltering) {
    HostDriver();
    Start();
    fv::DriverSession* before = window->Controller().Session();
    window->OnMenuCommand(fv::kCommandLoadIpTable);  // the dialog is cancelled
    EXPECT_EQ(window->Controller().Session(), before);
    EXPECT_EQ(StatusTexts().back(), "IP database not selected, still using previous one (\"" + Blocklist() + "\").");

    // A reload switches filtering on even when it was off, and the tray tells the truth.
    window->OnMenuCommand(fv::kCommandReloadIpTable);
    ASSERT_NE(window->Controller().Session(), nullptr);
    EXPECT_TRUE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(StatusTexts().back(), "There are 259 known IPs in 2 ranges.");
    EXPECT_TRUE(HasStatus(texts::kTableReloaded));
    EXPECT_EQ(StartButton()->text(), QStringLiteral("Stop"));
    EXPECT_EQ(window->TrayItem(fv::kTrayStartStopPosition)->text(), QStringLiteral("Stop"));
    EXPECT_EQ(trayIcons.back(), fv::res::kIconTrayActive);

    // Loading another file while filtering keeps filtering on, with the new table.
    WriteFile(dir / "other.p2p", "One:10.0.0.1-10.0.0.1\r\n");
    chosenBlocklist = dir / "other.p2p";
    window->OnMenuCommand(fv::kCommandLoadIpTable);
    EXPECT_TRUE(window->Controller().Session()->FilteringOn());
    EXPECT_EQ(StatusTexts().back(), "There are 1 known IPs in 1 ranges.");
    EXPECT_EQ(fv::Settings(dir / "program").IPDB.Value(), dir / "other.p2p");
    window->ToggleFiltering();
    EXPECT_EQ(window->TrayItem(fv::kTrayStartStopPosition)->text(), QStringLiteral("Start"));
}

}  // namespace
