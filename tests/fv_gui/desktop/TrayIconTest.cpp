#include "fv_gui/notify/TrayIconDialog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QPixmap>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fv_gui/notify/WindowCommands.h"
#include "tests/fv_gui/desktop/FakeShell.h"

namespace fv::notify {
namespace {

using testing::FakeShell;

class FakeClock : public TrayClock {
public:
    std::uint32_t Now() override { return now; }
    void Sleep(std::uint32_t ms, std::stop_token) override { now += ms; }
    std::atomic<std::uint32_t> now{0};
};

// Icons told apart by the colour of their one pixel.
QIcon ColourIcon(int id) {
    if (id != CTrayIconDialog::kIconActive && id != CTrayIconDialog::kIconAlert && id != CTrayIconDialog::kIconStopped)
        return {};
    QPixmap pixmap(1, 1);
    pixmap.fill(QColor::fromRgb(static_cast<QRgb>(id)));
    return QIcon(pixmap);
}
int IconIdOf(const QIcon& icon) { return static_cast<int>(icon.pixmap(1, 1).toImage().pixel(0, 0) & 0xFFFFFF); }

class TrayTest : public ::testing::Test {
protected:
    TrayTest() : dialog(102, nullptr, {&shell, &clock, ColourIcon}) {}

    std::vector<FakeShell::Call> Balloons() const {
        std::vector<FakeShell::Call> out;
        for (const auto& c : shell.Calls(ShellMessage::Modify)) {
            if (c.data.flags & NIF_INFO) out.push_back(c);
        }
        return out;
    }
    void Balloon(std::uint32_t now) {
        clock.now = now;
        dialog.ShowTrayBalloon("Ferrovane - Incoming packet", "text", BalloonIcon::Warning, 10);
    }
    void ProcessUntil(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    FakeShell shell;
    FakeClock clock;
    CTrayIconDialog dialog;
};

TEST_F(TrayTest, BalloonsKeepTheirGapAndAreNeverQueued) {
    dialog.SetBalloonMinimumGap(120000);
    ASSERT_TRUE(dialog.AddTrayIcon());
    Balloon(1000);  // the machine has been up less than the gap
    EXPECT_TRUE(Balloons().empty());
    Balloon(200000);
    ASSERT_EQ(Balloons().size(), 1u);
    const NotifyIconData shown = Balloons()[0].data;
    EXPECT_EQ(shown.flags, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO);
    EXPECT_EQ(shown.timeoutMs, 10000u);
    EXPECT_EQ(shown.infoFlags, NIIF_WARNING);
    EXPECT_EQ(shown.id, CTrayIconDialog::kIconId);
    Balloon(250000);
    Balloon(319999);
    EXPECT_EQ(Balloons().size(), 1u);
    Balloon(320000);
    EXPECT_EQ(Balloons().size(), 2u);

    // While the icon is away balloons are dropped without starting the gap.
    ASSERT_TRUE(dialog.RemoveTrayIcon());
    Balloon(500000);
    ASSERT_TRUE(dialog.AddTrayIcon());
    Balloon(500001);
    EXPECT_EQ(Balloons().size(), 3u);

    // The gap is measured across the tick count's wrap.
    dialog.SetBalloonMinimumGap(10000);
    Balloon(0xFFFFFF00u);
    Balloon(0x100u);
    EXPECT_EQ(Balloons().size(), 4u);
}

TEST_F(TrayTest, ABalloonIsShownOnceAndNotAgainByLaterIconChanges) {
    ASSERT_TRUE(dialog.AddTrayIcon());
    Balloon(200000);
    ASSERT_EQ(Balloons().size(), 1u);
    EXPECT_TRUE(dialog.SetTrayIcon(CTrayIconDialog::kIconActive));
    EXPECT_TRUE(dialog.SetTrayIcon(CTrayIconDialog::kIconStopped));
    EXPECT_EQ(Balloons().size(), 1u);
    EXPECT_EQ(dialog.TrayRecord().flags, NIF_MESSAGE | NIF_ICON | NIF_TIP);
}

TEST_F(TrayTest, BalloonFromAnotherThreadIsShownOnTheWindowsThread) {
    ASSERT_TRUE(dialog.AddTrayIcon());
    clock.now = 5000;
    std::thread notifier([&] { dialog.ShowTrayBalloon("t", "x", BalloonIcon::Warning, 10); });
    notifier.join();
    EXPECT_TRUE(Balloons().empty());
    ProcessUntil([&] { return !Balloons().empty(); });
    EXPECT_EQ(Balloons().size(), 1u);
}

TEST_F(TrayTest, LongTextsAreCutNotRejected) {
    ASSERT_TRUE(dialog.AddTrayIcon());
    dialog.SetTrayTip(QString(200, 'a'));
    EXPECT_EQ(dialog.TrayRecord().tip.size(), kTipChars);
    dialog.ShowTrayBalloon(QString(100, 't'), QString(300, 'x'), BalloonIcon::Warning, 10);
    ASSERT_EQ(Balloons().size(), 1u);
    EXPECT_EQ(Balloons()[0].data.infoTitle.size(), kInfoTitleChars);
    EXPECT_EQ(Balloons()[0].data.info.size(), kInfoChars);
    // A character outside the basic plane straddling the limit is dropped whole.
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80");
    EXPECT_EQ(CutText(QString(62, 'a') + face, kInfoTitleChars), QString(62, 'a'));
}

TEST_F(TrayTest, BlinkAlternatesThenHoldsAndEndsOnTheActiveIcon) {
    ASSERT_TRUE(dialog.AddTrayIcon());
    Balloon(200000);
    const std::size_t before = shell.Calls(ShellMessage::Modify).size();
    dialog.BlinkTrayIcon(1500, 100, 300);
    dialog.BlinkTrayIcon(1500, 100, 300);  // ignored while the first runs
    ProcessUntil([&] { return !dialog.IsBlinking(); });
    ASSERT_FALSE(dialog.IsBlinking());

    const auto modifies = shell.Calls(ShellMessage::Modify);
    ASSERT_EQ(modifies.size() - before, 17u);  // 15 alternations, the hold, the end
    for (std::size_t i = 0; i < 17; ++i) {
        const auto& data = modifies[before + i].data;
        const bool alert = i < 15 ? i % 2 == 0 : i == 15;
        EXPECT_EQ(IconIdOf(data.icon), alert ? CTrayIconDialog::kIconAlert : CTrayIconDialog::kIconActive) << i;
        EXPECT_FALSE(data.flags & NIF_INFO) << "a blink must not show the balloon again";
        EXPECT_TRUE(data.flags & NIF_ICON);
    }
    EXPECT_GE(clock.now - 200000u, 1800u);

    // Once over, the next blink is accepted.
    dialog.BlinkTrayIcon(100, 100, 0);
    EXPECT_TRUE(dialog.IsBlinking());
    ProcessUntil([&] { return !dialog.IsBlinking(); });
    EXPECT_EQ(shell.Calls(ShellMessage::Modify).size() - before, 20u);
}

TEST_F(TrayTest, AStoppedBlinkLeavesTheIconSetAfterIt) {
    ASSERT_TRUE(dialog.AddTrayIcon());
    // The fake clock lets the worker post every step at once; none has been carried out yet.
    dialog.BlinkTrayIcon(1500, 100, 300);
    dialog.StopBlinking();
    EXPECT_FALSE(dialog.IsBlinking());
    EXPECT_TRUE(dialog.SetTrayIcon(CTrayIconDialog::kIconStopped));
    QCoreApplication::processEvents();
    EXPECT_EQ(IconIdOf(shell.icons.begin()->second.icon), CTrayIconDialog::kIconStopped);
    EXPECT_EQ(IconIdOf(shell.Calls(ShellMessage::Modify).back().data.icon), CTrayIconDialog::kIconStopped);

    // The next blink runs whole.
    dialog.BlinkTrayIcon(100, 100, 0);
    ProcessUntil([&] { return !dialog.IsBlinking(); });
    EXPECT_EQ(IconIdOf(shell.icons.begin()->second.icon), CTrayIconDialog::kIconActive);
}

TEST_F(TrayTest, CallbackDispatchAndRestoreAfterDoubleClick) {
    QSignalSpy restored(&dialog, &CTrayIconDialog::RestoreLoggersToo);
    dialog.SetTrayAlwaysVisible(true);
    ASSERT_TRUE(dialog.IsTrayIconShown());
    EXPECT_EQ(dialog.TrayCallback(2, WM_LBUTTONDBLCLK), 0);
    EXPECT_EQ(dialog.TrayCallback(2, WM_LBUTTONUP), 0);
    // A single click does nothing.
    EXPECT_EQ(dialog.TrayCallback(1, WM_LBUTTONDOWN), 1);
    EXPECT_EQ(dialog.TrayCallback(1, WM_LBUTTONUP), 1);
    EXPECT_FALSE(dialog.isVisible());
    // The button-up after a double click restores; the icon stays in always-visible mode.
    dialog.TrayCallback(1, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(dialog.isVisible());
    dialog.TrayCallback(1, WM_LBUTTONUP);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.IsTrayIconShown());
    ProcessUntil([&] { return restored.count() > 0; });
    EXPECT_EQ(restored.count(), 1);
    // The pending restore was used up.
    dialog.hide();
    dialog.TrayCallback(1, WM_LBUTTONUP);
    EXPECT_FALSE(dialog.isVisible());
}

// What each click on the tray becomes by the time it reaches the icon's owner.
TEST(TrayMouseTest, ActivationsReachTheOwnerAsTheirEvents) {
    auto events = [](QSystemTrayIcon::ActivationReason reason, bool statusNotifier) {
        std::vector<TrayMouse> out;
        for (std::uint32_t message : TrayMouseMessages(reason, statusNotifier)) {
            if (const auto event = TrayMouseOf(message)) out.push_back(*event);
        }
        return out;
    };
    using V = std::vector<TrayMouse>;
    EXPECT_EQ(events(QSystemTrayIcon::Trigger, false), (V{TrayMouse::LeftDown, TrayMouse::LeftUp}));
    EXPECT_EQ(events(QSystemTrayIcon::Trigger, true), (V{TrayMouse::LeftDoubleClick, TrayMouse::LeftUp}));
    EXPECT_EQ(events(QSystemTrayIcon::DoubleClick, false), (V{TrayMouse::LeftDoubleClick, TrayMouse::LeftUp}));
    EXPECT_EQ(events(QSystemTrayIcon::Context, false), (V{TrayMouse::RightDown}));
    EXPECT_EQ(events(QSystemTrayIcon::MiddleClick, false), V{});  // nothing the owner acts on
    EXPECT_EQ(TrayMouseOf(WM_CONTEXTMENU), TrayMouse::RightDown);
    EXPECT_EQ(TrayMouseOf(WM_RBUTTONDBLCLK), TrayMouse::RightDoubleClick);
}

TEST_F(TrayTest, TrayOnlyWhenHiddenMode) {
    dialog.SetTrayAlwaysVisible(false);
    dialog.show();
    dialog.OnWindowCommand(WindowCommand::Minimize);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.IsTrayIconShown());

    // Restoring takes the icon away; its flags are set for the next add.
    dialog.TrayCallback(1, WM_LBUTTONDBLCLK);
    dialog.TrayCallback(1, WM_LBUTTONUP);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.IsTrayIconShown());
    EXPECT_EQ(dialog.TrayRecord().flags, NIF_MESSAGE | NIF_ICON | NIF_TIP);

    // With the icon already there, minimize neither hides nor minimizes.
    ASSERT_TRUE(dialog.AddTrayIcon());
    dialog.OnWindowCommand(WindowCommand::Minimize);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.isMinimized());

    // A shell that refuses the icon keeps the window on screen.
    ASSERT_TRUE(dialog.RemoveTrayIcon());
    shell.refuseAll = true;
    dialog.OnWindowCommand(WindowCommand::Minimize);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.IsTrayIconShown());
    EXPECT_FALSE(dialog.AddTrayIcon());
    shell.refuseAll = false;
    EXPECT_TRUE(dialog.AddTrayIcon());  // a failed add is tried again
    dialog.hide();
}

TEST_F(TrayTest, IconImageAndTrayHostRestart) {
    EXPECT_FALSE(dialog.SetTrayIcon(999));  // no such icon: the record is left alone
    EXPECT_EQ(dialog.TrayRecord().flags, NIF_MESSAGE);
    EXPECT_FALSE(dialog.SetTrayIcon(CTrayIconDialog::kIconStopped));  // not shown: used at the next add
    EXPECT_EQ(dialog.TrayRecord().flags, NIF_MESSAGE | NIF_ICON);
    ASSERT_TRUE(dialog.AddTrayIcon());
    EXPECT_FALSE(dialog.AddTrayIcon());
    EXPECT_TRUE(dialog.SetTrayIcon(CTrayIconDialog::kIconActive));

    shell.Restart();
    QCoreApplication::postEvent(&dialog, new TaskbarCreatedEvent());
    QCoreApplication::processEvents();
    EXPECT_EQ(shell.icons.size(), 1u);
    EXPECT_EQ(IconIdOf(shell.icons.begin()->second.icon), CTrayIconDialog::kIconActive);

    ASSERT_TRUE(dialog.RemoveTrayIcon());
    const auto adds = shell.Calls(ShellMessage::Add).size();
    EXPECT_EQ(dialog.OnTaskbarCreated(), 1);
    EXPECT_EQ(shell.Calls(ShellMessage::Add).size(), adds);
}

TEST(TrayMenuTest, TrayMenuCommands) {
    auto menu = LoadMenuResource(kTrayMenu);
    QMenu* tray = FirstSubmenu(menu.get());
    ASSERT_NE(tray, nullptr);
    ASSERT_EQ(tray->actions().size(), 5);
    EXPECT_EQ(tray->actions()[0]->text(), "Show");
    EXPECT_TRUE(tray->actions()[3]->isSeparator());
    EXPECT_EQ(FindCommand(menu.get(), kCommandAbout)->text(), "About Ferrovane...");
    EXPECT_EQ(LoadMenuResource(1), nullptr);
}

}  // namespace
}  // namespace fv::notify
