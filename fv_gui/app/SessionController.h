// The driver session's life, without a widget: the probe at start-up, opening a session on the
// blocklist, filtering on and off with the consumer threads, loading and reloading the table (by
// command, on the reload timer, or when the file changes on disk), the packet statistics and the
// single-instance lock, down to the ordered shutdown. It runs on the window's thread; what the
// user should see goes out through its signals, message boxes through the message sink.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fv_gui/app/MainWindowTexts.h"
#include "fv_gui/client/DriverSession.h"
#include "fv_gui/dialogs/PreferencesEffects.h"
#include "fv_gui/logging/MessageSink.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_platform/NamedLock.h"

class QTimerEvent;

namespace fv {

class BlocklistWatch;
class ConsumerView;
class PacketConsumers;
class PacketStatistics;
class Settings;

inline constexpr int kReloadTimerMs = static_cast<int>(dialogs::kReloadPeriodMs);
// After a stop, the driver's last records are drained before the tray says "stopped".
inline constexpr std::uint32_t kStopSettleMs = 1900;

class SessionController : public QObject {
    Q_OBJECT
public:
    // `sleep` pauses without blocking the window's thread; `view` receives the consumers' output
    // from their threads.
    SessionController(Settings& settings, MessageSink& messages, ConsumerView& view,
                      std::function<void(std::uint32_t)> sleep, QObject* parent = nullptr);
    // Shutdown, if it has not run.
    ~SessionController() override;

    // Start-up, in this order. False when another instance holds the lock.
    bool ClaimInstance();
    // Opens the driver and checks its build; false, with the rows and the message given, when
    // the program cannot go on.
    bool ProbeDriver();
    void ReportDriverState();
    // The stored totals, and the consumers the sessions' readers feed.
    void CreateConsumers();
    // Opens a session on the stored blocklist; filtering starts when the settings say so.
    void OpenStored();
    // Without a usable blocklist nothing can open: the probed session goes.
    void DropSession();
    // Starts the reload timer when automatic updates are on.
    void ScheduleReloads();

    // Commands. Their waits dispatch events, so while one runs the others are turned away.
    [[nodiscard]] bool Busy() const { return commandRunning_; }
    void ToggleFiltering();
    // A new session on the file `choose` returns ("" = cancelled); filtering stays as it was.
    void Load(const std::function<std::string()>& choose);
    // A new session on the same file; filtering is on afterwards.
    void Reload();
    // The blocklist file changed on disk: its table replaces the one in force, filtering on.
    void SwapInChangedTable();
    void ResetGranted();
    void ResetBlocked();

    // The reload timer; the mark tells that start-up started it.
    void StartReloadTimer(std::uint32_t milliseconds);
    void StopReloadTimer();
    [[nodiscard]] bool ReloadTimerMarked() const { return reloadTimerMark_; }
    [[nodiscard]] bool ReloadTimerRunning() const { return reloadTimer_ != 0; }
    [[nodiscard]] int ReloadTimerId() const { return reloadTimer_; }

    // Filtering off, the consumers ended, the session closed, the totals stored, the lock let go.
    void Shutdown();
    // The same for an end that bypasses the run, without dispatching events: the consumers post
    // to the window and never wait for it, so a plain join ends them once the session is closed.
    void ShutdownWindowless();

    [[nodiscard]] DriverSession* Session() const { return session_.get(); }
    [[nodiscard]] PacketStatistics* Statistics() const { return statistics_.get(); }
    [[nodiscard]] PacketRecordQueue& Queue() { return queue_; }
    [[nodiscard]] const DriverVersionInfo& VersionInfo() const { return versionInfo_; }
    [[nodiscard]] bool DriverReady() const { return driverReady_; }
    [[nodiscard]] const std::string& BlocklistPath() const { return blocklistPath_; }
    [[nodiscard]] const std::string& SelectedAdapter() const { return parameters_.selectedAdapter; }

signals:
    // A status row with its icon and time, and a plain follow-up line.
    void StatusReported(fv::StatusKind kind, const std::string& text);
    void ContinuationReported(const std::string& text);
    void DriverPresence(bool present);
    // A new session found these adapters, and opened on the one named.
    void AdaptersListed(const fv::AdapterList& adapters);
    void AdapterInUse(const std::string& name);
    // Whether there is a loaded table for Start to act on.
    void TableReady(bool ready);
    void FilteringStarted();
    // Filtering went off; StopSettled follows once the last records had time to drain.
    void FilteringStopped();
    void StopSettled();
    // A stop failed while the table was being replaced: the program ends after the command.
    void EndRequested();

protected:
    void timerEvent(QTimerEvent* e) override;

private:
    enum class Opening { Stored, Replacement };
    class Command;

    // Opens session_ on blocklistPath_; on failure reports as `opening` calls for.
    bool Open(Opening opening);
    // Stops filtering, closes the session and opens a new one on blocklistPath_. `wasFiltering`
    // tells whether filtering had to be stopped.
    bool Replace(const char* announcement, bool& wasFiltering);
    // After a successful open: the adapter shown, filtering on when asked, the rows on the table.
    void Opened(bool startFiltering, const char* loadedText);
    bool StartFiltering();
    // On failure the rows and the message say so.
    bool StartFilteringOrReport();
    void ReportTableLoaded(const char* text);
    // Rows on the freshness of the subscribed lists, when the table loaded is their merged file.
    void ReportListFreshness();
    void WatchBlocklist();
    void KillReloadTimer();
    void PrepareSessionParameters();
    void Message(const std::string& text, MessageKind kind = MessageKind::Warning);
    void Report(StatusKind kind, const std::string& text) { emit StatusReported(kind, text); }

    Settings& settings_;
    MessageSink& messages_;
    ConsumerView& view_;
    std::function<void(std::uint32_t)> sleep_;
    NamedLock singleInstance_;
    SessionParameters parameters_;
    std::unique_ptr<DriverSession> session_;
    std::string blocklistPath_;
    DriverVersionInfo versionInfo_{};
    bool driverReady_ = false;
    PacketRecordQueue queue_;
    std::unique_ptr<PacketStatistics> statistics_;
    std::unique_ptr<PacketConsumers> consumers_;
    BlocklistWatch* blocklistWatch_ = nullptr;  // a child, made when a table first loads
    int reloadTimer_ = 0;
    bool reloadTimerMark_ = false;
    bool commandRunning_ = false;
    bool ended_ = false;
};

}  // namespace fv
