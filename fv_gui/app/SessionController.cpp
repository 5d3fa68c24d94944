#include "fv_gui/app/SessionController.h"

#include <QTimerEvent>

#include "fv_gui/app/BlocklistWatch.h"
#include "fv_gui/app/PacketConsumers.h"
#include "fv_gui/client/DeviceAccess.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_contract/DeviceNames.h"

namespace fv {
namespace {

constexpr const char kSingleInstanceLock[] = "FerrovaneStarted";
constexpr const char kTableUpdatedText[] = "IP table updated from \"";
constexpr const char kTableKeptText[] =
    "The changed IP table could not be put in force; the previous one still is.";

}  // namespace

// Marks a command as running for its whole length, however it returns.
class SessionController::Command {
public:
    explicit Command(bool& running) : running_(running) { running_ = true; }
    ~Command() { running_ = false; }
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

private:
    bool& running_;
};

SessionController::SessionController(Settings& settings, MessageSink& messages, ConsumerView& view,
                                     std::function<void(std::uint32_t)> sleep, QObject* parent)
    : QObject(parent), settings_(settings), messages_(messages), view_(view), sleep_(std::move(sleep)) {}

SessionController::~SessionController() { Shutdown(); }

// --- start-up

bool SessionController::ClaimInstance() {
    return singleInstance_.Create(kSingleInstanceLock) != NamedLock::Result::AlreadyHeld;
}

bool SessionController::ProbeDriver() {
    session_ = std::make_unique<DriverSession>(&messages_);
    if (!session_->ProbeDriver(versionInfo_)) {
        const bool refused = session_->ProbeError() == kErrorAccessDenied;
        session_.reset();
        if (refused) {
            // The driver is there but will not serve this user: say how to be let in.
            Report(StatusKind::Error, kAccessDeniedRow);
            Message(AccessDeniedText(CurrentDeviceUser()), MessageKind::Error);
        } else {
            Report(StatusKind::Error, texts::kBadInstallation);
            Message(texts::kDriverNotLoadedBox, MessageKind::Error);
        }
        return false;
    }
    if (!session_->CheckDriverVersion()) {
        const std::string text = session_->MessageText();
        session_.reset();
        Message(text, MessageKind::Error);
        return false;
    }
    // The version check may have changed what the driver reported: ask again.
    versionInfo_ = DriverVersionInfo{};
    (void)session_->ProbeDriver(versionInfo_);
    return true;
}

void SessionController::ReportDriverState() {
    driverReady_ = session_ && session_->DriverPresent();
    emit DriverPresence(driverReady_);
    if (driverReady_) Report(StatusKind::Information, texts::kReady);
    else Report(StatusKind::Error, texts::kDriverNotReady);
}

void SessionController::CreateConsumers() {
    statistics_ = std::make_unique<PacketStatistics>();
    consumers_ = std::make_unique<PacketConsumers>(queue_, settings_, *statistics_, view_);
}

void SessionController::OpenStored() {
    blocklistPath_ = settings_.IPDB.Value();
    Report(StatusKind::Information, UsingDatabaseText(blocklistPath_));
    if (Open(Opening::Stored)) Opened(settings_.AutoStart.value != 0, texts::kTableLoaded);
}

void SessionController::DropSession() { session_.reset(); }

void SessionController::ScheduleReloads() {
    reloadTimerMark_ = settings_.AutoUpdateEnabled.value != 0;
    if (reloadTimerMark_) StartReloadTimer(kReloadTimerMs);
}

// --- opening a session

void SessionController::PrepareSessionParameters() {
    parameters_ = SessionParameters{};
    parameters_.settings = &settings_;
    parameters_.blockedNotify = &consumers_->BlockedNotifyEvent();
    parameters_.grantedNotify = &consumers_->GrantedNotifyEvent();
    parameters_.queue = &queue_;
    parameters_.statistics = statistics_.get();
    parameters_.blocklistPath = blocklistPath_;
    parameters_.logFolder = settings_.LogPath.Value();
    parameters_.logBaseName = kLogFileName;
    parameters_.selectedAdapter = settings_.SelectedAdapter.Value();
}

bool SessionController::Open(Opening opening) {
    PrepareSessionParameters();
    if (session_ && session_->OpenSession(parameters_)) return true;
    if (opening == Opening::Replacement) {
        Report(StatusKind::Error, texts::kBadInstallation);
        Message(texts::kDriverNotLoadedBox, MessageKind::Error);
    } else if (settings_.SelectedAdapter.Value().empty()) {
        Report(StatusKind::Warning, texts::kInvalidAdapter);
    } else {
        Report(StatusKind::Error, texts::kFailure);
    }
    return false;
}

void SessionController::Opened(bool startFiltering, const char* loadedText) {
    emit AdapterInUse(parameters_.selectedAdapter);
    if (startFiltering) (void)StartFilteringOrReport();
    ReportTableLoaded(loadedText);
}

bool SessionController::Replace(const char* announcement, bool& wasFiltering) {
    wasFiltering = false;
    if (session_ && session_->FilteringOn()) {
        if (!session_->SetFiltering(false)) {
            Message(texts::kStopErrorBox, MessageKind::Error);
            // The program ends once the command returns; the replacement goes on meanwhile.
            emit EndRequested();
            Report(StatusKind::Error, texts::kStopErrorReload);
        }
        consumers_->StopConsumers();
        emit FilteringStopped();
        Report(StatusKind::Information, announcement);
        emit StopSettled();
        wasFiltering = true;
    }
    if (session_) {
        session_->CloseSession();
        session_.reset();
    }
    emit TableReady(false);
    session_ = std::make_unique<DriverSession>(&messages_);
    (void)session_->ProbeDriver(versionInfo_);
    emit AdaptersListed(session_->Adapters());
    return Open(Opening::Replacement);
}

void SessionController::ReportTableLoaded(const char* text) {
    Report(StatusKind::Information, text);
    std::uint64_t addresses = 0;
    std::int32_t ranges = 0;
    if (auto table = session_->Blocklist()) {
        addresses = table->AddressCount();
        ranges = table->RangeCount();
    }
    Report(StatusKind::Information, KnownAddressesText(addresses, ranges));
    ReportListFreshness();
    emit TableReady(true);
    WatchBlocklist();
}

// --- filtering

bool SessionController::StartFiltering() {
    consumers_->StartConsumers();
    if (session_->SetFiltering(true)) return true;
    // Threads left running would be started a second time by the next attempt.
    consumers_->StopConsumers();
    return false;
}

bool SessionController::StartFilteringOrReport() {
    if (StartFiltering()) {
        emit FilteringStarted();
        return true;
    }
    Report(StatusKind::Error, texts::kStartError);
    Message(texts::kStartErrorBox, MessageKind::Error);
    return false;
}

void SessionController::ToggleFiltering() {
    if (!session_ || commandRunning_) return;
    Command command(commandRunning_);
    if (!session_->FilteringOn()) {
        if (StartFilteringOrReport()) Report(StatusKind::Information, texts::kStarted);
        return;
    }
    if (!session_->SetFiltering(false)) {
        Report(StatusKind::Error, texts::kStopError);
        Message(texts::kStopErrorBox, MessageKind::Error);
        return;
    }
    Report(StatusKind::Information, texts::kStopping);
    consumers_->StopConsumers();
    emit FilteringStopped();
    sleep_(kStopSettleMs);
    emit StopSettled();
    Report(StatusKind::Information, texts::kStopped);
}

// --- load and reload

void SessionController::Load(const std::function<std::string()>& choose) {
    if (commandRunning_) return;
    Command command(commandRunning_);
    const std::string chosen = choose();
    if (chosen.empty()) {
        blocklistPath_ = settings_.IPDB.Value();
        const StatusRow row = CancelledLoadRow(blocklistPath_);
        Report(row.kind, row.text);
        return;
    }
    blocklistPath_ = chosen;
    Report(StatusKind::Information, SelectedDatabaseText(blocklistPath_));
    bool wasFiltering = false;
    if (!Replace(texts::kSelecting, wasFiltering)) return;
    settings_.IPDB.Set(blocklistPath_);
    Opened(wasFiltering, texts::kTableLoaded);
}

void SessionController::Reload() {
    if (commandRunning_) return;
    Command command(commandRunning_);
    Report(StatusKind::Information, texts::kCheckingUpdates);
    bool wasFiltering = false;
    if (!Replace(texts::kReloading, wasFiltering)) return;
    Opened(true, texts::kTableReloaded);
}

void SessionController::WatchBlocklist() {
    if (!session_) return;
    if (!blocklistWatch_) {
        blocklistWatch_ = new BlocklistWatch(this);
        connect(blocklistWatch_, &BlocklistWatch::Changed, this, &SessionController::SwapInChangedTable);
    }
    blocklistWatch_->Watch(session_->BlocklistPath());
}

void SessionController::SwapInChangedTable() {
    // Without an open session there is no table to replace: the next open reads the file.
    if (ended_ || !session_ || !session_->AdapterHandleOpen()) return;
    // A command that replaces or stops the session is under way and waits dispatching events.
    if (commandRunning_) {
        blocklistWatch_->Postpone();
        return;
    }
    bool swapped = false;
    {
        Command command(commandRunning_);
        swapped = session_->ReplaceRanges();
    }
    if (!swapped) {
        Report(StatusKind::Error, kTableKeptText);
        emit ContinuationReported(SessionFailureText(session_->ReplaceFailure(), session_->BlocklistPath(),
                                                parameters_.selectedAdapter,
                                                DeviceDirectory() + "/" + kControlDeviceName, CurrentDeviceUser()));
        return;
    }
    Report(StatusKind::Information, kTableUpdatedText + session_->BlocklistPath() + "\".");
    const auto table = session_->Blocklist();
    Report(StatusKind::Information,
           KnownAddressesText(table ? table->AddressCount() : 0, table ? table->RangeCount() : 0));
    // An update of the subscribed lists is what usually swaps the table: say how fresh they now are.
    ReportListFreshness();
}

// --- counters

void SessionController::ResetGranted() {
    if (!statistics_) return;
    if (session_) statistics_->ResetRunningGranted();
    statistics_->ResetTotalGranted();
}

void SessionController::ResetBlocked() {
    if (!statistics_) return;
    if (session_) statistics_->ResetRunningBlocked();
    statistics_->ResetTotalBlocked();
}

// --- the reload timer

void SessionController::timerEvent(QTimerEvent* e) {
    if (e->timerId() != reloadTimer_) {
        QObject::timerEvent(e);
        return;
    }
    KillReloadTimer();
    Reload();
    // The mark stays as it is: it says who started the cycle, not whether it runs.
    StartReloadTimer(kReloadTimerMs);
}

void SessionController::StartReloadTimer(std::uint32_t milliseconds) {
    // Starting it again restarts the period, as re-arming the same timer does.
    KillReloadTimer();
    reloadTimer_ = startTimer(static_cast<int>(milliseconds));
}

void SessionController::KillReloadTimer() {
    if (reloadTimer_ != 0) killTimer(reloadTimer_);
    reloadTimer_ = 0;
}

void SessionController::StopReloadTimer() {
    KillReloadTimer();
    reloadTimerMark_ = false;
}

// --- the end

void SessionController::Shutdown() {
    if (ended_) return;
    ended_ = true;
    KillReloadTimer();
    if (session_) {
        if (session_->FilteringOn()) (void)session_->SetFiltering(false);
        if (consumers_) consumers_->StopConsumers();
        session_->CloseSession();
        session_.reset();
    } else if (consumers_) {
        consumers_->StopConsumers();
    }
    consumers_.reset();
    if (statistics_) {
        statistics_->Save();
        statistics_.reset();
    }
    singleInstance_.Close();
}

void SessionController::ShutdownWindowless() {
    if (ended_) return;
    ended_ = true;
    if (session_) {
        if (session_->FilteringOn()) (void)session_->SetFiltering(false);
        // Its readers end here; they set events the consumers own.
        session_->CloseSession();
        session_.reset();
    }
    consumers_.reset();
    if (statistics_) {
        statistics_->Save();
        statistics_.reset();
    }
    singleInstance_.Close();
}

void SessionController::Message(const std::string& text, MessageKind kind) {
    messages_.ShowMessage(text, texts::kMessageCaption, kind);
}

}  // namespace fv
