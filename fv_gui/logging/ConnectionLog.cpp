#include "fv_gui/logging/ConnectionLog.h"

#include <arpa/inet.h>

#include <cinttypes>
#include <cstdio>

#include "fv_gui/blocklist/IpTable.h"
#include "fv_gui/logging/ProtocolName.h"
#include "fv_gui/settings/Version.h"
#include "fv_platform/Text.h"

namespace fv {

namespace {

const std::string kRule(80, '-');

constexpr const char* kDays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};

std::tm LocalTime(std::time_t when) {
    std::tm parts{};
    ::localtime_r(&when, &parts);
    return parts;
}

std::string PortText(std::uint16_t networkOrder) {
    if (networkOrder == 0) return "--";
    return std::to_string(ntohs(networkOrder));
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

std::string FormatLongDate(std::time_t when) {
    const std::tm t = LocalTime(when);
    return Format("%s, %s %02d, %d at %02d:%02d:%02d", kDays[t.tm_wday % 7], kMonths[t.tm_mon % 12],
                  t.tm_mday, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
}

std::string FormatStampDate(std::time_t when) {
    const std::tm t = LocalTime(when);
    return Format("%04d/%02d/%02d  %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
}

std::string FormatRecordText(const PacketEventRecord& record, bool blocked, const IpTable& table) {
    const std::string protocol = ProtocolName(record.protocol);
    const std::string first = PortText(record.firstPort);
    const std::string second = PortText(record.secondPort);
    const std::string address = FormatDottedAddress(record.remoteAddress);
    const char* direction = "";
    if (blocked) {
        if (record.direction == 0) direction = "[->] REJECTED - Source is";
        if (record.direction == 1) direction = "[<-] BLOCKED [!] - Destination is";
        std::string description;
        if (!table.LookupName(record.remoteAddress, description))
            description = kDescriptionLookupFailed;
        return Format("%s %s (%s) [Protocol: %s - src: %s / dst: %s]", direction,
                      description.c_str(), address.c_str(), protocol.c_str(), first.c_str(),
                      second.c_str());
    }
    if (record.direction == 0) direction = "[->] non-hostile source";
    if (record.direction == 1) direction = "[<-] non-hostile destination";
    return Format("%s (%s), access granted [Protocol: %s - src: %s / dst: %s]", direction,
                  address.c_str(), protocol.c_str(), first.c_str(), second.c_str());
}

ConnectionLog::ConnectionLog(const IpTable& table, std::string folder, std::string baseName,
                             MessageSink* sink, Clock clock)
    : table_(table), baseName_(std::move(baseName)), sink_(sink), clock_(std::move(clock)) {
    const std::string path = folder + baseName_;
    if (!Open(path)) return;
    enabled_ = true;
    SeekEnd();
    Write(BannerStart());
    Write(kRule + "\r\n\r\n" + CountsLine());
    SeekEnd();
    currentPath_ = path;
}

ConnectionLog::~ConnectionLog() {
    Stop();
}

std::string ConnectionLog::CurrentPath() {
    std::lock_guard lock(writeLock_);
    return currentPath_;
}

bool ConnectionLog::Open(const std::string& path) {
    // Others may read the file but not write it: one writer holds the lock.
    file_ = LockedFile::OpenForAppend(path);
    return file_.Valid();
}

void ConnectionLog::CloseFile() {
    file_.Close();
}

void ConnectionLog::SeekEnd() {
    file_.SeekEnd();
}

void ConnectionLog::Write(const std::string& text) {
    (void)file_.Write(text);  // single write failures are not reported
}

std::string ConnectionLog::BannerStart() {
    return Format("\r\n\r\nFerrovane v%d.%02d(build %d) [%s]\r\nLOGGING STARTED on %s\r\n",
                  kProgramVersionMajor, kProgramVersionMinor, kProgramBuild, kProgramReleaseTag,
                  FormatLongDate(Now()).c_str());
}

std::string ConnectionLog::CountsLine() {
    return Format("There are %" PRIu64 " known IP addresses in %d ranges.\r\n\r\n",
                  table_.AddressCount(), table_.RangeCount());
}

void ConnectionLog::LogRecord(const PacketEventRecord& record, bool blocked) {
    std::lock_guard lock(recordLock_);
    if (!enabled_) return;
    WriteLine(FormatRecordText(record, blocked, table_));
}

void ConnectionLog::WriteLine(const std::string& text) {
    std::lock_guard lock(writeLock_);
    if (!enabled_) return;
    Write(FormatStampDate(Now()) + "  " + text + "\r\n");
}

bool ConnectionLog::ChangeFolder(const std::string& folder) {
    {
        std::lock_guard record(recordLock_);
        std::lock_guard write(writeLock_);
        const std::string path = folder + baseName_;
        if (EqualNoCase(path, currentPath_)) return false;

        const bool wasOpen = file_.Valid();
        const std::string oldPath = currentPath_;
        CloseFile();  // no footer in the old file
        if (Open(path)) {
            enabled_ = true;
            SeekEnd();
            Write(BannerStart());
            Write(kRule + "\r\n\r\n" + Format("[!] Logfile changed, old is \"%s\"", oldPath.c_str()) +
                  "\r\n" + CountsLine());
            SeekEnd();
            currentPath_ = path;
            return true;
        }
        if (wasOpen && Open(oldPath)) {
            SeekEnd();
        } else {
            enabled_ = false;
        }
    }
    // The box waits for the user, and its loop may run anything, including a reload that stops
    // this log: the readers and the caller's thread must not wait on our locks meanwhile.
    if (sink_ != nullptr)
        sink_->ShowMessage(kLogSwitchFailedMessage, kMessageCaption, MessageKind::Plain);
    return false;
}

void ConnectionLog::Stop() {
    std::lock_guard record(recordLock_);
    std::lock_guard write(writeLock_);
    if (!enabled_) return;
    Write("\r\n\r\n" + kRule);
    Write("\r\nLOGGING STOPPED on " + FormatLongDate(Now()) + "\r\n\r\n");
    SeekEnd();
    file_.SyncAndClose();
    enabled_ = false;
}

bool GrantedAddressCache::Admit(std::uint32_t address) {
    if (addresses_.size() > Limit()) addresses_.clear();
    return addresses_.insert(address).second;
}

}  // namespace fv
