#include "fv_gui/app/CMainApp.h"

#include <QCloseEvent>
#include <QSocketNotifier>

#include <csignal>
#include <sys/eventfd.h>
#include <unistd.h>

#include "fv_gui/app/CMainDialog.h"

namespace fv {
namespace {

constexpr const char kProfileName[] = "Ferrovane Project";

// The signal handler may only write to a descriptor; the notifier reads it on the GUI thread.
int g_signalFd = -1;

void OnTerminate(int) {
    const std::uint64_t one = 1;
    if (g_signalFd >= 0) (void)!::write(g_signalFd, &one, sizeof one);
}

}  // namespace

CMainApp::CMainApp(int& argc, char** argv) : QApplication(argc, argv) {}

int CMainApp::InitInstance() {
    setOrganizationName(QString::fromLatin1(kProfileName));
    // The window hides into the tray; closing the last visible window must not end the program.
    setQuitOnLastWindowClosed(false);
    auto dialog = std::make_unique<CMainDialog>();
    TerminationSignal terminate(dialog.get());
    (void)dialog->RunModal();
    dialog.reset();
    return 0;
}

TerminationSignal::TerminationSignal(QWidget* window) : window_(window) {
    g_signalFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (g_signalFd < 0) return;
    auto* notifier = new QSocketNotifier(g_signalFd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignal::Delivered);
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
}

TerminationSignal::~TerminationSignal() {
    std::signal(SIGTERM, SIG_DFL);
    if (g_signalFd >= 0) ::close(g_signalFd);
    g_signalFd = -1;
}

void TerminationSignal::Delivered() {
    std::uint64_t count = 0;
    (void)!::read(g_signalFd, &count, sizeof count);
    QCoreApplication::postEvent(window_, new QCloseEvent());
}

}  // namespace fv
