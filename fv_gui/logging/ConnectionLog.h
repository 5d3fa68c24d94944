// The connection log file ("fvconns.log" in the log folder): banners, one line per record,
// footer; and the cache that lets a granted remote address be logged only once in a while.
//
// The file is opened for writing in append mode, created when absent (readable by its owner
// only), never truncated, and held with an exclusive advisory lock (flock) while open: other
// programs may read it, but a second writer that asks for the lock is refused. A file another
// writer holds, a symbolic link, FIFO or other file that is not a regular one, or a folder that
// cannot be written, cannot be opened. Every line is handed to the system at once, unbuffered.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_set>

#include "fv_contract/PacketEventRecord.h"
#include "fv_gui/logging/MessageSink.h"
#include "fv_platform/LockedFile.h"

namespace fv {

class IpTable;

inline constexpr const char kLogFileName[] = "fvconns.log";
inline constexpr const char kLoggingInitFailedMessage[] =
    "Error initializing logging engine, sharing violation occured!\r\n"
    "Maybe some other programs are accessing the log file. Logging will be disabled, in order\r\n"
    "to reactivate it, you must select another folder in the \"Preferences\" dialog.";
inline constexpr const char kLogSwitchFailedMessage[] =
    "Failed using the new log file.\r\nFerrovane will use the old one.";
inline constexpr const char kMessageCaption[] = "Ferrovane";

// "%A, %B %d, %Y at %H:%M:%S" and "%Y/%m/%d  %H:%M:%S" in local time, with English names
// whatever the process locale.
std::string FormatLongDate(std::time_t when);
std::string FormatStampDate(std::time_t when);
// The text of one record line (without the time stamp): `record` has its address in host order.
std::string FormatRecordText(const PacketEventRecord& record, bool blocked, const IpTable& table);

class ConnectionLog {
public:
    using Clock = std::function<std::time_t()>;

    // Opens folder + baseName (the folder ends with "/") and writes the start banner; Enabled()
    // tells whether the file could be opened. `sink` receives ChangeFolder's message box.
    ConnectionLog(const IpTable& table, std::string folder, std::string baseName,
                  MessageSink* sink = nullptr, Clock clock = {});
    // Stop.
    ~ConnectionLog();
    ConnectionLog(const ConnectionLog&) = delete;
    ConnectionLog& operator=(const ConnectionLog&) = delete;

    bool Enabled() const { return enabled_.load(); }
    // The full path of the open file; empty until a file has been opened.
    std::string CurrentPath();

    // Turns one record (address in host order) into a record text and writes it.
    void LogRecord(const PacketEventRecord& record, bool blocked);
    // Writes "<stamp>  <text>\r\n".
    void WriteLine(const std::string& text);
    // Switches to the base name in `folder`; false when it is the file in use (letter case not
    // counted) or the new file cannot be opened (then logging goes on in the old file and the
    // sink is told once both locks are free again).
    [[nodiscard]] bool ChangeFolder(const std::string& folder);
    // When enabled: writes the footer, syncs and closes the file.
    void Stop();

private:
    [[nodiscard]] bool Open(const std::string& path);
    void CloseFile();
    void Write(const std::string& text);  // at the end of the file
    void SeekEnd();
    std::string BannerStart();
    std::string CountsLine();
    std::time_t Now() const { return clock_ ? clock_() : std::time(nullptr); }

    const IpTable& table_;
    std::string baseName_;
    std::string currentPath_;
    MessageSink* sink_;
    Clock clock_;
    LockedFile file_;
    std::atomic<bool> enabled_{false};
    std::mutex recordLock_;  // taken before writeLock_
    std::mutex writeLock_;
};

// The remote addresses of granted packets logged lately.
class GrantedAddressCache {
public:
    static constexpr std::uint32_t kDefaultLimit = 500;
    // True when `address` was not in the set (it is added); the set is emptied first when it
    // holds more than the limit.
    bool Admit(std::uint32_t address);
    void SetLimit(std::uint32_t limit) { limit_.store(limit, std::memory_order_relaxed); }
    std::uint32_t Limit() const { return limit_.load(std::memory_order_relaxed); }
    std::size_t Size() const { return addresses_.size(); }

private:
    std::unordered_set<std::uint32_t> addresses_;
    std::atomic<std::uint32_t> limit_{kDefaultLimit};
};

}  // namespace fv
