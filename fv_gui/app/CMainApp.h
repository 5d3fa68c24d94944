// The application: one modal run of the main window is the program's whole life.
#pragma once

#include <QApplication>
#include <QPointer>

namespace fv {

class CMainDialog;

class CMainApp : public QApplication {
    Q_OBJECT
public:
    CMainApp(int& argc, char** argv);

    // Runs the main window and returns the process's exit status once it has been destroyed.
    int InitInstance();
};

// SIGTERM, SIGINT and SIGHUP become a close from outside for `window`: the modal run ends and
// the whole shutdown sequence runs, from inside any modal window or popup menu, which are closed
// (and any that opens afterwards) so that their loops return. Installed for as long as the
// object lives; one at a time.
class TerminationSignal : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignal(CMainDialog* window);
    ~TerminationSignal() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Delivered();
    void CloseModalWindows();

    QPointer<CMainDialog> window_;
    bool closing_ = false;
};

// While it lives, an end that bypasses the run (Qt's X11 platform calls exit() when the
// connection to the X server breaks) still stops filtering, ends the threads, closes the log
// and stores the totals. One at a time.
class ExitGuard {
public:
    explicit ExitGuard(CMainDialog& window);
    ~ExitGuard();
    ExitGuard(const ExitGuard&) = delete;
    ExitGuard& operator=(const ExitGuard&) = delete;
};

}  // namespace fv
