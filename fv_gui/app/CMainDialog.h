// The program's one top-level window: it builds and shows the controls, the log windows, the
// popup and the tray icon, and carries the user's commands to the session controller, whose
// signals it shows. Its whole life is one modal run (RunModal).
#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fv_gui/app/MainWindowIds.h"
#include "fv_gui/app/PacketConsumers.h"
#include "fv_gui/app/SessionController.h"
#include "fv_gui/dialogs/CPreferencesDialog.h"
#include "fv_gui/logging/WindowSnapper.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/logview/SnapGlue.h"
#include "fv_gui/notify/SkinnedDialog.h"

class QAction;
class QEventLoop;
class QMenu;
class QUrl;

namespace fv {

class CAdapterComboBox;
class CControlTip;
class CFlatButton;
class CLabel;
class CLogListCtrl;
class CStatusLamp;
class Settings;
namespace notify {
class CTaskbarNotifier;
}

class CMainDialog : public notify::CSkinnedTrayDialog, public ConsumerView {
    Q_OBJECT
public:
    // What the window reaches outside itself; tests replace each.
    struct Services {
        MessageSink* messages = nullptr;                 // default: Qt message boxes
        notify::TrayServices tray;
        std::function<bool(const QUrl&)> openUrl;        // default: QDesktopServices::openUrl
        std::function<void(std::uint32_t)> sleep;        // default: waits while events are dispatched
        std::function<std::string()> chooseBlocklist;    // default: the file-open dialog; "" = cancelled
        dialogs::PreferencesHooks preferences;           // default: the desktop's folder picker and questions
        dialogs::DialogShown dialogShown;                // told when the preferences or the about box is up
    };

    CMainDialog();
    explicit CMainDialog(Services services, QWidget* parent = nullptr);
    ~CMainDialog() override;

    // Start-up, the modal loop, then the shutdown sequence; the dialog's result.
    int RunModal();
    // Ends the modal run with `result`.
    void EndDialog(int result);
    bool Ended() const { return ended_; }
    void OnInitDialog();
    // For an end that bypasses the run: the controller's windowless shutdown, the blink ended.
    void ShutDownWindowless();

    void ToggleFiltering();
    void ReloadIpTable();
    // The preferences dialog, then its settings carried over to the running system.
    virtual void ShowPreferences();
    // The about box; the guarded form opens nothing while another guarded box is open.
    virtual void ShowAbout(bool guarded);
    void ShowInformation(const std::string& text);

    void OnWindowCommand(notify::WindowCommand command) override;
    void OnMenuCommand(int command) override;
    QPoint ProposeMove(QPoint proposed) override;
    void CaptionPressed() override;
    void DragEnded() override;

    // ConsumerView: any thread; carried out on the window's thread.
    void AddLogEntry(int kind, int icon, const std::string& text, std::uint32_t address) override;
    void SetCounterText(int kind, const std::string& text) override;
    void ShowTrayBalloon(const std::string& title, const std::string& text) override;
    void ShowNotifier(const std::string& text) override;
    void BlinkTrayIcon() override;
    void SetLampState(int state) override;
    void EnableAdapterSelector(bool enable) override;

    // State for tests.
    SessionController& Controller() const { return *controller_; }
    CLogWindow* BlockedLog() const { return blockedLog_; }
    CLogListCtrl& StatusList() const { return *statusList_; }
    CStatusLamp& Lamp() const { return *lamp_; }
    CAdapterComboBox& AdapterSelector() const { return *adapterSelector_; }
    notify::CTaskbarNotifier& Notifier() const { return *notifier_; }
    QAction* TrayItem(int position) const;

protected:
    void accept() override;
    void reject() override;
    void closeEvent(QCloseEvent* e) override;

private:
    struct PreferencesLink;

    // The controller's shutdown, then what the window holds; once.
    void OnDestroy();
    void createAdapterGroup(QWidget* client);
    void createActivityGroup(QWidget* client);
    void createStatusArea(QWidget* client);
    void createSystemMenuAdditions();
    void SetUpTipAndNotifier();
    void connectCommands();
    void connectController();

    void OpenStartupSession();
    void ShowStartupWindow();
    void ShowLogFile();
    void OpenWebPage(int command);
    void LoadIpTable();
    void ToggleAlwaysOnTop();
    void SetTopMost(bool on);
    void HideToTray();
    void RestoreFromTray();
    void RestoreLoggers();
    void ResetCounter(int kind);
    void ShowAdapterInfo();
    void ReportLoggingState();
    void SetTrayItemEnabled(int position, bool enabled);
    bool AdapterSelected() const;
    // What the controller's signals change on the window.
    void ShowDriverPresence(bool present);
    void ShowAdapters(const AdapterList& adapters);
    void ShowTableReady(bool ready);
    void ShowFilteringStarted();
    void ShowFilteringStopped();
    void ShowStatus(StatusKind kind, const std::string& text);
    void ShowContinuation(const std::string& text);
    void Message(const std::string& text, MessageKind kind = MessageKind::Warning);

    Services services_;
    std::unique_ptr<MessageSink> ownSink_;
    std::unique_ptr<Settings> settings_;
    std::unique_ptr<SessionController> controller_;
    std::unique_ptr<SnapDesktop> snapDesktop_;
    std::unique_ptr<WindowSnapper> snapper_;
    std::unique_ptr<SnapWindow> selfSnap_;
    std::unique_ptr<QMenu> mainMenu_;
    QPointer<CLogWindow> blockedLog_;
    QPointer<CLogWindow> grantedLog_;
    CLogListCtrl* statusList_ = nullptr;
    CLabel* blockedCounter_ = nullptr;
    CLabel* grantedCounter_ = nullptr;
    CLabel* macLabel_ = nullptr;
    CLabel* mediumLabel_ = nullptr;
    CStatusLamp* lamp_ = nullptr;
    CFlatButton* startButton_ = nullptr;
    CFlatButton* quitButton_ = nullptr;
    CFlatButton* resetGrantedButton_ = nullptr;
    CFlatButton* resetBlockedButton_ = nullptr;
    CFlatButton* viewLogButton_ = nullptr;
    CAdapterComboBox* adapterSelector_ = nullptr;
    QAction* alwaysOnTopItem_ = nullptr;
    CControlTip* tip_ = nullptr;
    bool tipFiltering_ = false;
    notify::CTaskbarNotifier* notifier_ = nullptr;
    QEventLoop* loop_ = nullptr;
    bool ended_ = false;
    bool destroyed_ = false;
    int result_ = 0;
};

}  // namespace fv
