// The program's one top-level window and the controller of the whole system: it owns the driver
// session, the settings and statistics, the packet queue and the consumer threads, the log
// windows, the popup and the tray icon, shows the system's state and carries every command.
// Its whole life is one modal run (RunModal).
#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fv_contract/ControlCodes.h"
#include "fv_gui/app/MainWindowTexts.h"
#include "fv_gui/app/PacketConsumers.h"
#include "fv_gui/client/DriverSession.h"
#include "fv_gui/dialogs/CPreferencesDialog.h"
#include "fv_gui/dialogs/PreferencesEffects.h"
#include "fv_gui/logging/MessageSink.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/logging/WindowSnapper.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/logview/SnapGlue.h"
#include "fv_gui/notify/SkinnedDialog.h"
#include "fv_platform/NamedLock.h"

class QAction;
class QEventLoop;
class QMenu;
class QUrl;

namespace fv {

class BlocklistWatch;
class CAdapterComboBox;
class CControlTip;
class CFlatButton;
class CLabel;
class CLogListCtrl;
class CStatusLamp;
class PacketStatistics;
class Settings;
namespace notify {
class CTaskbarNotifier;
}

// Controls of the main window, by id; each widget's object name is its id in decimal.
inline constexpr int kMainDialogTemplate = 102;
inline constexpr int kStartStopButton = 1000;
inline constexpr int kQuitButton = 1001;
inline constexpr int kBlockedCounter = 1005;
inline constexpr int kStatusList = 1017;
inline constexpr int kGrantedCounter = 1023;
inline constexpr int kStatusLampControl = 1026;
inline constexpr int kResetGrantedButton = 1032;
inline constexpr int kResetBlockedButton = 1043;
inline constexpr int kViewLogButton = 1057;
inline constexpr int kAdapterSelector = 1073;
inline constexpr int kMacAddressLabel = 1075;
inline constexpr int kMediumLabel = 1076;

// Lamp states.
inline constexpr int kLampNotReady = 0;
inline constexpr int kLampReady = 1;
inline constexpr int kLampFiltering = 2;

// Dialog results.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;

// Tray menu positions the window relabels and greys.
inline constexpr int kTrayStartStopPosition = 1;
inline constexpr int kTrayQuitPosition = 2;

inline constexpr int kReloadTimerMs = static_cast<int>(dialogs::kReloadPeriodMs);
inline constexpr std::uint32_t kStopSettleMs = 1900;

class CMainDialog : public notify::CSkinnedTrayDialog, public ConsumerView, public dialogs::PreferencesTarget {
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

    // Commands and messages.
    void OnInitDialog();
    void ToggleFiltering();
    void ShowLogFile();
    void OpenWebPage(int command);
    void ToggleAlwaysOnTop();
    void HideToTray();
    void RestoreFromTray();
    void RestoreLoggers();
    void ResetGrantedCounts();
    void ResetBlockedCounts();
    void LoadIpTable();
    void ReloadIpTable();
    // The blocklist file changed on disk: its table replaces the one in force, filtering on.
    void SwapInChangedTable();
    void OnDestroy();
    // The shutdown sequence without anything that needs the window system, for an end that
    // bypasses the run: filtering off, the consumer threads ended without dispatching events,
    // the session (and its log) closed, the totals stored, the single-instance lock let go.
    void ShutDownWindowless();

    // The preferences dialog, then its settings carried over to the running system.
    virtual void ShowPreferences();
    // The about box; the guarded form opens nothing while another guarded box is open.
    virtual void ShowAbout(bool guarded);

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

    // State for the other dialogs and for tests.
    Settings& GetSettings() { return *settings_; }
    PacketStatistics* Statistics() { return statistics_.get(); }
    DriverSession* Session() { return session_.get(); }
    PacketRecordQueue& Queue() { return queue_; }
    const DriverVersionInfo& VersionInfo() const { return versionInfo_; }
    bool DriverReady() const { return driverReady_; }
    const std::string& BlocklistPath() const { return blocklistPath_; }
    QMenu* MainMenu() const { return mainMenu_.get(); }
    CLogWindow* BlockedLog() const { return blockedLog_; }
    CLogWindow* GrantedLog() const { return grantedLog_; }
    CLogListCtrl& StatusList() const { return *statusList_; }
    CStatusLamp& Lamp() const { return *lamp_; }
    CAdapterComboBox& AdapterSelector() const { return *adapterSelector_; }
    notify::CTaskbarNotifier& Notifier() const { return *notifier_; }
    bool ReloadTimerRunning() const { return reloadTimer_ != 0; }
    int ReloadTimerId() const { return reloadTimer_; }
    QAction* TrayItem(int position) const;
    void SetTrayItemEnabled(int position, bool enabled);
    // The status rows: an icon and the time, or a plain follow-up line.
    void ReportStatus(StatusKind kind, const std::string& text);
    void ReportContinuation(const std::string& text);

    // PreferencesTarget: what applied preferences change in the running system.
    [[nodiscard]] bool AdapterSelected() const override;
    void ShowInformation(const std::string& text) override;
    void EnableTrayCommands(bool enable) override;
    void SetPopupGaps(std::uint32_t milliseconds) override;
    [[nodiscard]] bool HasSession() const override { return session_ != nullptr; }
    void SetGrantedCacheLimit(std::uint32_t limit) override;
    [[nodiscard]] bool TrayAlwaysVisible() const override { return IsTrayAlwaysVisible(); }
    void SetTrayAlwaysVisible(bool on) override { CSkinnedTrayDialog::SetTrayAlwaysVisible(on); }
    [[nodiscard]] bool HasLogWriter() const override;
    void ChangeLogFolder(const std::string& folder) override;
    void ReportLoggingState() override;
    void StopReloadTimer() override;
    [[nodiscard]] bool ReloadTimerMarked() const override { return reloadTimerMark_; }
    void StartReloadTimer(std::uint32_t milliseconds) override;
    void PostRestoreLoggers() override;
    void SetReportGranted(bool on) override;
    void SetReportBlocked(bool on) override;

protected:
    void accept() override;
    void reject() override;
    void closeEvent(QCloseEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    void CreateControls();
    void CreateAdapterGroup(QWidget* client);
    void CreateActivityGroup(QWidget* client);
    void CreateStatusArea(QWidget* client);
    void CreateSystemMenuAdditions();
    void ConnectCommands();

    bool CheckSingleInstance();
    bool ProbeAndCheckDriver();
    void SetUpTipAndNotifier();
    void ReportDriverState();
    void OpenStartupSession();
    void ApplyAlwaysOnTop();
    void ShowStartupWindow();
    void KillReloadTimer();
    void PrepareSessionParameters();
    // After a session opened: what the user sees (the status rows and the enabled Start).
    // Starts filtering; on success the tray and status say so, otherwise the error is shown.
    void StartFilteringOrReport();
    void ReportTableLoaded(const char* text);
    // From now on a change of the file the session loaded is swapped in (SwapInChangedTable).
    void WatchBlocklist();
    // Rows on the freshness of the subscribed lists, when the table loaded is their merged file.
    void ReportListFreshness();
    // Ends the current session and opens a new one on the blocklist path; false when the new
    // session did not open. `wasFiltering` tells whether filtering had to be stopped.
    bool ReplaceSession(const char* announcement, bool& wasFiltering);
    bool StartFiltering();
    void ShowFilteringStarted();
    void ShowAdapterInfo(const AdapterInfo* entry);
    void SetTopMost(bool on);
    void Message(const std::string& text, MessageKind kind = MessageKind::Warning);
    template <typename T>
    T* Control(int id) const;

    Services services_;
    std::unique_ptr<MessageSink> ownSink_;
    std::unique_ptr<Settings> settings_;
    std::unique_ptr<SnapDesktop> snapDesktop_;
    std::unique_ptr<WindowSnapper> snapper_;
    std::unique_ptr<SnapWindow> selfSnap_;
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
    QAction* aboutSysItem_ = nullptr;
    QAction* alwaysOnTopItem_ = nullptr;
    SessionParameters parameters_;
    std::unique_ptr<DriverSession> session_;
    std::string blocklistPath_;
    DriverVersionInfo versionInfo_{};
    std::unique_ptr<QMenu> mainMenu_;
    bool driverReady_ = false;
    NamedLock singleInstance_;
    CControlTip* tip_ = nullptr;
    bool tipFiltering_ = false;
    int reloadTimer_ = 0;
    bool reloadTimerMark_ = false;  // set when start-up started the reload timer
    PacketRecordQueue queue_;
    std::unique_ptr<PacketStatistics> statistics_;
    std::unique_ptr<PacketConsumers> consumers_;
    notify::CTaskbarNotifier* notifier_ = nullptr;
    BlocklistWatch* blocklistWatch_ = nullptr;  // a child, made when a table first loads

    // Set while a command that starts, stops or replaces the session runs: its waits dispatch
    // events, and a second such command must not start inside the first.
    bool commandRunning_ = false;
    QEventLoop* loop_ = nullptr;
    bool ended_ = false;
    bool destroyed_ = false;
    int result_ = 0;
};

}  // namespace fv
