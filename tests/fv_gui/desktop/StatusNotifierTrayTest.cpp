// The tray icon on a StatusNotifier desktop: a private X server and session bus, a watcher and
// host of the test's own, and the item's Activate and ContextMenu called as a panel calls them
// on a left and a right click.
#include <QApplication>
#include <QMenu>
#include <QTimer>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fv_gui/notify/TrayIconDialog.h"
#include "fv_gui/notify/WindowCommands.h"
#include "tools/gallery/MiniStatusNotifierHost.h"
#include "tests/fv_gui/desktop/EventWait.h"

namespace {

using fv::gallery::MiniStatusNotifierHost;
using fv::notify::CTrayIconDialog;

std::string g_skipReason;  // set when the private desktop could not be made

using fv::test::WaitFor;

TEST(StatusNotifierTrayTest, ALeftClickOnTheHostsIconRestoresAndARightClickOpensTheMenu) {
    if (!g_skipReason.empty()) GTEST_SKIP() << g_skipReason;
    MiniStatusNotifierHost host;
    ASSERT_TRUE(host.Registered());
    CTrayIconDialog dialog(102, nullptr);  // the desktop's own tray, through Qt
    (void)dialog.SetTrayIcon(CTrayIconDialog::kIconStopped);
    dialog.SetTrayTip(QStringLiteral("Ferrovane"));
    dialog.SetTrayMenu(fv::notify::kTrayMenu);
    dialog.SetTrayAlwaysVisible(true);
    ASSERT_TRUE(dialog.IsTrayIconShown());
    ASSERT_TRUE(WaitFor([&] { return host.Items().size() == 1; })) << "the icon never reached the host";
    const QString item = host.Items().front();

    // A left click: the host activates the item, and the window comes back from the tray.
    dialog.show();
    dialog.OnWindowCommand(fv::notify::WindowCommand::Minimize);
    ASSERT_FALSE(dialog.isVisible());
    host.Activate(item, QPoint(1000, 750));
    EXPECT_TRUE(WaitFor([&] { return dialog.isVisible(); }, 5000));

    // A right click: the tray menu, "Show" first.
    dialog.hide();
    QStringList shown;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) shown << action->text();
            menu->close();
        }
    });
    closer.start(10);
    host.ContextMenu(item, QPoint(1000, 750));
    ASSERT_TRUE(WaitFor([&] { return !shown.isEmpty(); }, 5000));
    EXPECT_EQ(shown.front(), QStringLiteral("Show"));
    EXPECT_FALSE(dialog.isVisible());
}

// A server the test starts and ends; the child's fd 3 carries the line it prints first.
struct Server {
    pid_t pid = -1;
    std::string line;

    bool Start(std::vector<std::string> args) {
        if (::access(args[0].c_str(), X_OK) != 0) return false;
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) return false;
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        // Forked before any thread exists. The server ends with this process even when a
        // sanitizer aborts it, and holds none of its output open for whoever waits on it.
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(pipe[1], 3);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipe[1]);
        char c;
        while (pid > 0 && ::read(pipe[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(pipe[0]);
        return pid > 0 && !line.empty();
    }
    ~Server() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
};

}  // namespace

// As for the other widget tests: Qt's own threads (here also the bus's, and the event loops of
// the threads it runs) pass data through futexes ThreadSanitizer cannot see in the
// uninstrumented Qt, libdbus and GLib libraries.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6DBus.so\n"
           "race:libQt6XcbQpa.so\n"
           "race:libxcb.so\n"
           "race:libdbus-1.so\n"
           "race:libglib-2.0.so\n"
           "deadlock:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    Server x, bus;
    if (!x.Start({"/usr/bin/Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1024x768x24"})) {
        g_skipReason = "Xvfb is not installed or did not start";
    } else if (!bus.Start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=3"})) {
        g_skipReason = "dbus-daemon is not installed or did not start";
    }
    if (g_skipReason.empty()) {
        ::setenv("DISPLAY", (":" + x.line).c_str(), 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.line.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::unsetenv("XDG_CURRENT_DESKTOP");  // Qt's plain tray choice, not a desktop's theme
    } else {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
