// The application: one modal run of the main window is the program's whole life.
#pragma once

#include <QApplication>

namespace fv {

class CMainDialog;

class CMainApp : public QApplication {
    Q_OBJECT
public:
    CMainApp(int& argc, char** argv);

    // Runs the main window and returns the process's exit status once it has been destroyed.
    int InitInstance();
};

// SIGTERM becomes a close from outside for `window`: the modal run ends and the whole shutdown
// sequence runs. Installed for as long as the object lives; one at a time.
class TerminationSignal : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignal(QWidget* window);
    ~TerminationSignal() override;

private:
    void Delivered();

    QWidget* window_;
};

}  // namespace fv
