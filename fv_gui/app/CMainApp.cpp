#include "fv_gui/app/CMainApp.h"

#include <QCloseEvent>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <sys/eventfd.h>
#include <unistd.h>

#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/app/QtMessageSink.h"
#include "fv_gui/res/Fonts.h"

namespace fv {
namespace {

constexpr const char kProfileName[] = "Ferrovane Project";
constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The signal handler may only write to a descriptor; the notifier reads it on the GUI thread.
int g_signalFd = -1;

void OnTerminate(int) {
    const std::uint64_t one = 1;
    if (g_signalFd >= 0) (void)!::write(g_signalFd, &one, sizeof one);
}

// The window whose run an exit() would cut short, and the thread that runs it.
std::atomic<CMainDialog*> g_running{nullptr};
std::thread::id g_runThread;
QtMessageHandler g_previousHandler = nullptr;

void EndRunWindowless() {
    // Another thread's exit() finds the window's thread busy with it: nothing is safe to touch.
    if (std::this_thread::get_id() != g_runThread) return;
    CMainDialog* window = g_running.exchange(nullptr);
    if (window == nullptr) return;
    // The window system may be gone: no message box may open from here on.
    QtMessageSink::SetWindowless();
    window->ShutDownWindowless();
}

// Qt's X11 platform says this just before it calls exit(), when the connection to the X server
// breaks; until then everything the shutdown needs is still standing.
constexpr const char kDisplayLostMessage[] = "The X11 connection broke";

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_previousHandler != nullptr) g_previousHandler(type, context, message);
    if (message.startsWith(QLatin1String(kDisplayLostMessage))) EndRunWindowless();
}

// Without a screen (the offscreen platform) every raise and every window shape is refused with a
// warning; nobody can see either, so the warnings are noise. Other messages pass on.
constexpr const char kOffscreenPlatform[] = "offscreen";
constexpr const char kPlatformLimitation[] = "This plugin does not support ";
QtMessageHandler g_handlerBeforeQuiet = nullptr;

void OnOffscreenMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String(kPlatformLimitation))) return;
    if (g_handlerBeforeQuiet != nullptr) g_handlerBeforeQuiet(type, context, message);
}

}  // namespace

CMainApp::CMainApp(int& argc, char** argv) : QApplication(argc, argv) {
    (void)res::UseDialogFont();
    if (platformName() == QLatin1String(kOffscreenPlatform)) g_handlerBeforeQuiet = qInstallMessageHandler(OnOffscreenMessage);
}

int CMainApp::InitInstance() {
    setOrganizationName(QString::fromLatin1(kProfileName));
    // The window hides into the tray; closing the last visible window must not end the program.
    setQuitOnLastWindowClosed(false);
    auto dialog = std::make_unique<CMainDialog>();
    {
        ExitGuard guard(*dialog);
        TerminationSignal terminate(dialog.get());
        (void)dialog->RunModal();
    }
    dialog.reset();
    return 0;
}

ExitGuard::ExitGuard(CMainDialog& window) {
    g_runThread = std::this_thread::get_id();
    g_running = &window;
    g_previousHandler = qInstallMessageHandler(OnQtMessage);
    // Any other exit(): the exit handlers run in the reverse order of their registration, after
    // the destructors of statics made later, so the handler goes in once start-up has made the
    // ones the shutdown uses.
    QTimer::singleShot(0, [] {
        static const bool registered = std::atexit(EndRunWindowless) == 0;
        (void)registered;
    });
}

ExitGuard::~ExitGuard() {
    g_running = nullptr;
    qInstallMessageHandler(g_previousHandler);
}

TerminationSignal::TerminationSignal(CMainDialog* window) : window_(window) {
    g_signalFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (g_signalFd < 0) return;
    auto* notifier = new QSocketNotifier(g_signalFd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignal::Delivered);
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kTerminationSignals) ::sigaction(signal, &action, nullptr);
}

TerminationSignal::~TerminationSignal() {
    for (int signal : kTerminationSignals) std::signal(signal, SIG_DFL);
    if (g_signalFd >= 0) ::close(g_signalFd);
    g_signalFd = -1;
    if (closing_) qApp->removeEventFilter(this);
}

void TerminationSignal::Delivered() {
    std::uint64_t count = 0;
    (void)!::read(g_signalFd, &count, sizeof count);
    if (!window_ || closing_) return;
    QCloseEvent close;
    QCoreApplication::sendEvent(window_, &close);
    // The run's loop returns only once every loop nested in it has returned.
    closing_ = true;
    qApp->installEventFilter(this);
    CloseModalWindows();
}

bool TerminationSignal::eventFilter(QObject* watched, QEvent* event) {
    // A modal window or a menu opened on the way out (a message box of the shutdown, a question
    // after a closed dialog) would hold the run up again.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && (widget->isModal() || widget->windowType() == Qt::Popup)) {
            // Closed from inside its own loop: a dialog's exec() starts the loop after showing it.
            QMetaObject::invokeMethod(this, &TerminationSignal::CloseModalWindows, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

void TerminationSignal::CloseModalWindows() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget == window_ || !widget->isVisible()) continue;
        if (widget->windowType() == Qt::Popup) {
            widget->close();
        } else if (widget->isModal()) {
            if (auto* dialog = qobject_cast<QDialog*>(widget)) dialog->done(QDialog::Rejected);
            else widget->close();
        }
    }
}

}  // namespace fv
