// The program's single owner of what it holds in the driver: the adapter handle, the three
// named events, the uploaded range table, the filtering and report switches, and the reader
// threads. All operations run on the window thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fv_contract/ControlCodes.h"
#include "fv_gui/client/AdapterEnumeration.h"
#include "fv_gui/client/PacketReaders.h"
#include "fv_gui/client/SessionFailure.h"
#include "fv_gui/logging/MessageSink.h"
#include "fv_platform/Thread.h"

namespace fv {

inline constexpr const char kVersionIncompatibleFormat[] =
    "Version incompatibility!\r\nThis version of the program requires you use \"Ferrovane.sys\" "
    "driver v%d.%02d build %d.\r\nYou are currently using v%d.%02d build %d of this driver and "
    "you cannot continue.\r\n\r\nUninstall the old version and then reinstall the new one.";
inline constexpr const char kExitChainFailedMessage[] =
    "EndExitEventChain() returned false!\r\nReport this to the author, please!";
// The message text after an open or a start that the system refused resources for.
inline constexpr const char kEventCreateFailedText[] = "Could not create an event: ";
inline constexpr const char kThreadStartFailedText[] = "Could not start a reader thread: ";
// How long a stop waits for the exit signal the last watcher leaves behind.
inline constexpr std::uint32_t kExitSignalWaitMs = 2000;
// How long each of the two waits for a watcher to end lasts before it is given up.
inline constexpr std::uint32_t kWatcherEndWaitMs = 30000;

struct SessionParameters {
    std::string blocklistPath;  // IPDB
    std::string logFolder;      // LogPath, ending with "/"
    std::string logBaseName;    // "fvconns.log"
    Settings* settings = nullptr;
    Event* blockedNotify = nullptr;  // auto-reset events the consumer threads wait on
    Event* grantedNotify = nullptr;
    PacketRecordQueue* queue = nullptr;
    PacketStatistics* statistics = nullptr;
    std::string selectedAdapter;  // the lower adapter's device name
};

class DriverSession {
public:
    // `sink` shows the session's message boxes; it may be null.
    explicit DriverSession(MessageSink* sink);
    // CloseSession, if it has not run.
    ~DriverSession();
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    // Whether a driver answers; fills `version` and rebuilds the adapter list. On failure
    // ProbeError() tells why.
    bool ProbeDriver(DriverVersionInfo& version);
    bool QueryDriverVersion(DriverVersionInfo& version);
    // False with MessageText() set when the driver is not the build this program needs, or
    // when it refuses this user (then the text says how to be let in).
    bool CheckDriverVersion();

    bool CreateEvents();
    bool CloseEvents();
    bool UploadRanges();
    bool OpenSession(const SessionParameters& parameters);
    bool SetFiltering(bool on);
    // Reads the blocklist file again and puts its table in force in place of the current one,
    // without stopping the filter: the driver swaps tables under its lock, so no listed packet
    // passes meanwhile. The records waiting in the driver are taken first, since the upload
    // renews its rings. On failure the table in force stays, in the driver and here, and
    // ReplaceFailure() tells why.
    bool ReplaceRanges();
    void SetReportBlocked(bool on);
    void SetReportGranted(bool on);
    void CloseSession();

    bool StartReaders();
    // Ends both watchers through the exit event; true when at least one existed.
    bool EndExitEventChain();

    const AdapterList& Adapters() const { return adapters_; }
    // After a failed version check the incompatibility text; after an open or a start that
    // failed for want of a system resource, what was refused.
    const std::string& MessageText() const { return messageText_; }
    // The last error of the latest probe that failed (ERROR_ACCESS_DENIED for a user outside
    // the device group); 0 after one that succeeded.
    std::uint32_t ProbeError() const { return probeError_; }
    // Which step of the latest OpenSession failed, and why.
    const SessionFailure& OpenFailure() const { return openFailure_; }
    // Which step of the latest ReplaceRanges failed, and why.
    const SessionFailure& ReplaceFailure() const { return replaceFailure_; }
    bool FilteringOn() const { return filteringOn_; }
    bool DriverPresent() const { return driverPresent_; }
    const std::string& BlocklistPath() const { return blocklistPath_; }
    std::shared_ptr<const IpTable> Blocklist() const;
    std::shared_ptr<GrantedAddressCache> GrantedCache() const;
    // The connection log while one exists (a stop destroys it): the preferences move it to
    // another folder with ChangeFolder.
    std::shared_ptr<ConnectionLog> Log() const;
    bool WatcherExists(RecordKind kind) const;
    bool AdapterHandleOpen() const { return state_->adapter.Valid(); }
    bool EventsHeld() const { return blockedEvent_ && grantedEvent_ && exitEvent_; }
    // Shortens the waits for watchers that do not end (tests).
    void SetWatcherEndWait(std::uint32_t ms) { watcherEndWaitMs_ = ms; }

private:
    // In `folder`, or in the session's log folder when it is empty.
    bool CreateLogWriter(const std::string& folder = {});
    // Forgets a watcher that could not be started, with the reason as the message text.
    bool KeepStarted(std::unique_ptr<Thread>& watcher);
    void SetExitEvent();
    // Waits for one watcher; gives it up (keeping the reference) when it does not end in time.
    void EndWatcher(std::unique_ptr<Thread>& watcher, bool& abandoned);
    bool Request(std::uint32_t code, const void* input = nullptr, std::uint32_t inputLength = 0);

    MessageSink* sink_;
    std::shared_ptr<ReaderState> state_;
    std::shared_ptr<Event> blockedEvent_;
    std::shared_ptr<Event> grantedEvent_;
    std::shared_ptr<Event> exitEvent_;
    // The exit event the running watchers wait on; it outlives a release of the events.
    std::shared_ptr<Event> chainExitEvent_;
    AdapterList adapters_;
    std::string blocklistPath_;
    std::string messageText_;
    std::uint32_t probeError_ = 0;
    SessionFailure openFailure_;
    SessionFailure replaceFailure_;
    SessionParameters parameters_;
    bool filteringOn_ = false;
    bool driverPresent_ = false;
    bool closed_ = false;
    std::unique_ptr<Thread> blockedWatcher_;
    std::unique_ptr<Thread> grantedWatcher_;
    bool blockedAbandoned_ = false;
    bool grantedAbandoned_ = false;
    std::uint32_t watcherEndWaitMs_ = kWatcherEndWaitMs;
};

}  // namespace fv
