#include "fv_gui/client/DriverSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "fv_contract/RangeImage.h"
#include "fv_gui/client/DeviceAccess.h"
#include "fv_gui/logging/PacketRecordQueue.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/NamedEvents.h"
#include "fv_platform/Wait.h"
#include "fv_contract/DeviceNames.h"

namespace fv {
namespace {

constexpr const char* kSessionEventNames[] = {kBlockedEventName, kGrantedEventName, kExitEventName};
constexpr std::uint32_t kCreateEventCodes[] = {IOCTL_CREATE_BLOCKED_EVENT, IOCTL_CREATE_GRANTED_EVENT,
                                               IOCTL_CREATE_EXIT_EVENT};

// Why a blocklist did not load: whether it opens at all tells a missing or forbidden file from
// one that failed while being read.
std::uint32_t BlocklistError(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return kErrorGenFailure;
    }
    if (errno == ENOENT || errno == ENOTDIR) return kErrorFileNotFound;
    return errno == EACCES || errno == EPERM ? kErrorAccessDenied : kErrorGenFailure;
}

}  // namespace

DriverSession::DriverSession(MessageSink* sink)
    : sink_(sink), state_(std::make_shared<ReaderState>()) {}

DriverSession::~DriverSession() {
    if (!closed_) CloseSession();
    // A reader given up on may still return from the driver: it must find the main window's
    // objects out of its reach.
    std::unique_lock detach(state_->detachLock);
    state_->detached = true;
}

bool DriverSession::QueryDriverVersion(DriverVersionInfo& version) {
    DeviceHandle device = OpenControlDevice();
    std::uint32_t returned = 0;
    DeviceIoControl(device, IOCTL_GET_VERSION, nullptr, 0, &version, sizeof version, &returned);
    // Only a whole reply is a version; a short one leaves fields unwritten.
    return returned == sizeof version;
}

bool DriverSession::ProbeDriver(DriverVersionInfo& version) {
    probeError_ = kErrorSuccess;
    bool answered = OpenControlDevice().Valid();
    if (answered) {
        answered = QueryDriverVersion(version);
        // A short reply carries no error of its own.
        if (!answered && GetLastError() == kErrorSuccess) SetLastError(kErrorGenFailure);
    }
    if (!answered) {
        probeError_ = GetLastError();
        driverPresent_ = false;
        return false;
    }
    EnumerateAdapters(adapters_);
    driverPresent_ = true;
    return true;
}

bool DriverSession::CheckDriverVersion() {
    DriverVersionInfo version{};
    ProbeDriver(version);
    if (probeError_ == kErrorAccessDenied) {
        // Not a version the user could do anything about: say what keeps them out.
        messageText_ = AccessDeniedText(CurrentDeviceUser());
        return false;
    }
    if (version.major == kDriverMajorVersion && version.minor == kDriverMinorVersion &&
        version.build == kDriverBuild) {
        return true;
    }
    char text[sizeof kVersionIncompatibleFormat + 64];
    std::snprintf(text, sizeof text, kVersionIncompatibleFormat, int(kDriverMajorVersion),
                  int(kDriverMinorVersion), int(kDriverBuild), int(version.major),
                  int(version.minor), int(version.build));
    messageText_ = text;
    return false;
}

bool DriverSession::CreateEvents() {
    std::shared_ptr<Event>* slots[] = {&blockedEvent_, &grantedEvent_, &exitEvent_};
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        *slots[i] = CreateNamedEvent(kSessionEventNames[i], Event::Mode::AutoReset);
        if (*slots[i] == nullptr || !(*slots[i])->Valid()) {
            messageText_ = std::string(kEventCreateFailedText) + std::strerror(errno);
            openFailure_ = {SessionStep::Events, kErrorSuccess, messageText_};
            for (std::size_t k = 0; k <= i; ++k) {
                ReleaseNamedEvent(kSessionEventNames[k]);
                slots[k]->reset();
            }
            return false;
        }
    }
    // The device connection carries the events that exist when it opens: open it only now.
    DeviceHandle device = OpenControlDevice();
    bool ok = device.Valid();
    for (std::uint32_t code : kCreateEventCodes) {
        if (!ok || !DeviceIoControl(device, code, nullptr, 0, nullptr, 0, nullptr)) {
            ok = false;
            openFailure_ = {SessionStep::Events, GetLastError(), {}};
            break;
        }
    }
    device.Close();
    if (!ok) CloseEvents();
    return ok;
}

bool DriverSession::CloseEvents() {
    {
        DeviceHandle device = OpenControlDevice();
        DeviceIoControl(device, IOCTL_CLOSE_EVENTS, nullptr, 0, nullptr, 0, nullptr);
    }
    if (!blockedEvent_ || !grantedEvent_ || !exitEvent_) return false;
    for (const char* name : kSessionEventNames) ReleaseNamedEvent(name);
    blockedEvent_.reset();
    grantedEvent_.reset();
    exitEvent_.reset();
    return true;
}

bool DriverSession::UploadRanges() {
    // Whole 32-bit words, so that the image's count and entries are aligned.
    std::vector<std::uint32_t> buffer((kSessionRangeBufferSize + 3) / 4);
    auto* ranges = reinterpret_cast<RangeTable*>(buffer.data());
    ranges->count = 0;
    auto table = std::make_shared<IpTable>();
    {
        std::lock_guard guard(state_->sessionLock);
        state_->table = table;
    }
    if (!table->Load(blocklistPath_, ranges, kSessionRangeBufferSize)) {
        openFailure_ = {SessionStep::Blocklist, BlocklistError(blocklistPath_), {}};
        return false;
    }
    if (Request(IOCTL_SET_RANGES, ranges, std::uint32_t(RangeTableImageSize(ranges->count)))) {
        return true;
    }
    // The driver refuses an empty table: then the file is what to mend.
    openFailure_ = ranges->count == 0
                       ? SessionFailure{SessionStep::EmptyBlocklist, kErrorSuccess, {}}
                       : SessionFailure{SessionStep::Upload, GetLastError(), {}};
    return false;
}

bool DriverSession::ReplaceRanges() {
    replaceFailure_ = {};
    if (!state_->adapter.Valid()) {
        replaceFailure_ = {SessionStep::Adapter, kErrorInvalidHandle, {}};
        return false;
    }
    std::vector<std::uint32_t> buffer((kSessionRangeBufferSize + 3) / 4);
    auto* ranges = reinterpret_cast<RangeTable*>(buffer.data());
    ranges->count = 0;
    auto table = std::make_shared<IpTable>();
    if (!table->Load(blocklistPath_, ranges, kSessionRangeBufferSize)) {
        replaceFailure_ = {SessionStep::Blocklist, BlocklistError(blocklistPath_), {}};
        return false;
    }
    // The driver takes an empty upload as "no table": the adapter would be left open.
    if (ranges->count == 0) {
        replaceFailure_ = {SessionStep::EmptyBlocklist, kErrorSuccess, {}};
        return false;
    }
    // While the readers run, their drains wait from here to the end: one that starts meanwhile
    // sees the new table and log, and none writes to the log while it is replaced. Stopped, no
    // reader is left to wait for (one given up on keeps what it took and is not waited for).
    std::unique_lock blockedDrain(state_->blocked.drainLock, std::defer_lock);
    std::unique_lock grantedDrain(state_->granted.drainLock, std::defer_lock);
    if (filteringOn_) {
        blockedDrain.lock();
        grantedDrain.lock();
        state_->blocked.Drain(*state_);
        state_->granted.Drain(*state_);
    }
    if (!Request(IOCTL_SET_RANGES, ranges, std::uint32_t(RangeTableImageSize(ranges->count)))) {
        replaceFailure_ = {SessionStep::Upload, GetLastError(), {}};
        return false;
    }
    std::shared_ptr<const IpTable> oldTable;  // outlives the log that refers to it
    std::shared_ptr<ConnectionLog> log;
    {
        std::lock_guard guard(state_->sessionLock);
        oldTable = std::exchange(state_->table, std::move(table));
        log = std::move(state_->log);
    }
    // The log names ranges from the table it was made with: it starts again on the new one,
    // in the folder it was last moved to.
    if (log != nullptr) {
        const std::string current = log->CurrentPath();
        const std::string folder =
            current.ends_with(parameters_.logBaseName)
                ? current.substr(0, current.size() - parameters_.logBaseName.size())
                : std::string();
        log->Stop();
        log.reset();
        CreateLogWriter(folder);
    }
    return true;
}

bool DriverSession::OpenSession(const SessionParameters& parameters) {
    blocklistPath_ = parameters.blocklistPath;
    parameters_ = parameters;
    openFailure_ = {};
    {
        std::lock_guard guard(state_->sessionLock);
        state_->outputs = {parameters.settings, parameters.queue, parameters.statistics,
                           parameters.blockedNotify, parameters.grantedNotify};
    }
    if (!CreateEvents()) return false;
    state_->adapter.Attach(OpenAdapterHandle(parameters.selectedAdapter));
    if (!state_->adapter.Valid()) openFailure_ = {SessionStep::Adapter, GetLastError(), {}};
    if (!state_->adapter.Valid() || !UploadRanges()) {
        EndExitEventChain();
        CloseEvents();
        // Holding the adapter would keep every later session from opening it.
        state_->adapter.Close();
        return false;
    }
    auto cache = std::make_shared<GrantedAddressCache>();
    if (parameters.settings != nullptr) cache->SetLimit(parameters.settings->LogCollectorLimit.value);
    {
        std::lock_guard guard(state_->sessionLock);
        state_->cache = std::move(cache);
    }
    bool haveLog;
    {
        std::lock_guard guard(state_->sessionLock);
        haveLog = state_->log != nullptr;
    }
    if (!haveLog) CreateLogWriter();
    return true;
}

bool DriverSession::CreateLogWriter(const std::string& folder) {
    std::shared_ptr<const IpTable> table;
    {
        std::lock_guard guard(state_->sessionLock);
        table = state_->table;
    }
    if (table == nullptr) return false;
    auto log = std::make_shared<ConnectionLog>(*table, folder.empty() ? parameters_.logFolder : folder,
                                               parameters_.logBaseName, sink_);
    const bool enabled = log->Enabled();
    {
        std::lock_guard guard(state_->sessionLock);
        state_->log = std::move(log);
    }
    if (!enabled && sink_ != nullptr) {
        sink_->ShowMessage(kLoggingInitFailedMessage, kMessageCaption, MessageKind::Error);
    }
    return enabled;
}

bool DriverSession::SetFiltering(bool on) {
    if (on) {
        if (parameters_.queue == nullptr || parameters_.statistics == nullptr ||
            parameters_.settings == nullptr) {
            return false;  // no session was opened
        }
        state_->stop.store(false);
        bool haveLog;
        {
            std::lock_guard guard(state_->sessionLock);
            haveLog = state_->log != nullptr;
        }
        // A log file that cannot be opened disables logging, not filtering: the message says so.
        if (!haveLog) CreateLogWriter();
        parameters_.queue->ClearBlocked();
        parameters_.queue->ClearGranted();
        if (!StartReaders()) {
            CloseEvents();
            state_->adapter.Close();
            filteringOn_ = false;
            return false;
        }
        // The new run counts from zero; what the earlier runs counted stays in the totals.
        parameters_.statistics->CarryRunningToTotals();
        filteringOn_ = Request(IOCTL_START_FILTER);
        if (filteringOn_) {
            SetReportGranted(parameters_.settings->LogGrantedToFile.value != 0);
            SetReportBlocked(parameters_.settings->LogBlockedToFile.value != 0);
        }
        return filteringOn_;
    }

    if (!Request(IOCTL_STOP_FILTER)) return false;
    if (EndExitEventChain() && chainExitEvent_ != nullptr &&
        WaitForObject(*chainExitEvent_, kExitSignalWaitMs) != kWaitObject0 && sink_ != nullptr) {
        sink_->ShowMessage(kExitChainFailedMessage, kMessageCaption, MessageKind::Warning);
    }
    filteringOn_ = false;
    std::shared_ptr<ConnectionLog> log;
    {
        std::lock_guard guard(state_->sessionLock);
        log = std::move(state_->log);
    }
    if (log != nullptr) log->Stop();
    return true;
}

void DriverSession::SetReportBlocked(bool on) {
    const std::uint8_t flag = on ? 1 : 0;
    Request(IOCTL_SET_REPORT_BLOCKED, &flag, sizeof flag);
}

void DriverSession::SetReportGranted(bool on) {
    const std::uint8_t flag = on ? 1 : 0;
    Request(IOCTL_SET_REPORT_GRANTED, &flag, sizeof flag);
}

void DriverSession::CloseSession() {
    closed_ = true;
    if (filteringOn_) SetFiltering(false);
    // Readers left running by a start that failed after they began.
    if (blockedWatcher_ || grantedWatcher_) EndExitEventChain();
    const bool abandoned = blockedAbandoned_ || grantedAbandoned_;
    if (!abandoned) {
        // No drainer holds any of these once the readers have ended.
        for (RecursiveMutex* m : {&state_->blocked.recordLock, &state_->granted.recordLock,
                         &state_->blocked.drainLock, &state_->granted.drainLock}) {
            m->Lock();
            m->Unlock();
        }
    }
    // A reader given up on may still be inside a request on the adapter handle; it is closed
    // when that reader lets go of it.
    if (CloseEvents() && !abandoned) state_->adapter.Close();
    std::shared_ptr<ConnectionLog> log;
    std::shared_ptr<const IpTable> table;
    std::shared_ptr<GrantedAddressCache> cache;
    {
        std::lock_guard guard(state_->sessionLock);
        log = std::move(state_->log);
        table = std::move(state_->table);
        cache = std::move(state_->cache);
    }
    if (log != nullptr) log->Stop();
    log.reset();
    table.reset();
    cache.reset();
    messageText_.clear();
    adapters_.clear();
}

std::shared_ptr<const IpTable> DriverSession::Blocklist() const {
    std::lock_guard guard(state_->sessionLock);
    return state_->table;
}

std::shared_ptr<GrantedAddressCache> DriverSession::GrantedCache() const {
    std::lock_guard guard(state_->sessionLock);
    return state_->cache;
}

std::shared_ptr<ConnectionLog> DriverSession::Log() const {
    std::lock_guard guard(state_->sessionLock);
    return state_->log;
}

bool DriverSession::WatcherExists(RecordKind kind) const {
    return kind == RecordKind::Blocked ? blockedWatcher_ != nullptr : grantedWatcher_ != nullptr;
}

bool DriverSession::Request(std::uint32_t code, const void* input, std::uint32_t inputLength) {
    return state_->adapter.Call(code, input, inputLength, nullptr, 0, nullptr);
}

}  // namespace fv
