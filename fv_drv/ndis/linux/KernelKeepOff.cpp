#include "fv_drv/ndis/linux/KernelKeepOff.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ndis::linux_media {
namespace {

struct Setting {
    const char* folder;  // below /proc/sys/net
    const char* name;
    const char* value;   // ours
    int largest;         // the largest value the kernel takes
};
constexpr Setting kSettings[] = {
    {"ipv6", "disable_ipv6", "1", 1},
    {"ipv4", "arp_ignore", "8", 8},
    {"ipv4", "rp_filter", "1", 2},
};
constexpr const char* kRecordHeading = "interface ";
// Far more than a well-formed record needs; a longer file is not ours.
constexpr std::size_t kMaxRecordSize = 512;
constexpr std::size_t kMaxValueDigits = 3;
constexpr mode_t kRecordMode = 0600;

std::string SysctlPath(const Setting& s, const std::string& interfaceName) {
    return std::string("/proc/sys/net/") + s.folder + "/conf/" + interfaceName + "/" + s.name;
}

// The first line of a sysctl, without its line feed.
bool ReadSysctl(const std::string& path, std::string& value) {
    FILE* f = std::fopen(path.c_str(), "re");
    if (f == nullptr) return false;
    char line[64] = {};
    const bool ok = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (!ok) return false;
    value = line;
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return true;
}

bool WriteSysctl(const std::string& path, const std::string& value) {
    FILE* f = std::fopen(path.c_str(), "we");
    if (f == nullptr) return false;
    const bool written = std::fprintf(f, "%s\n", value.c_str()) > 0;
    return std::fclose(f) == 0 && written;
}

const Setting* Find(const std::string& name) {
    for (const Setting& s : kSettings) {
        if (name == s.name) return &s;
    }
    return nullptr;
}

bool InRange(const std::string& value, int largest) {
    if (value.empty() || value.size() > kMaxValueDigits) return false;
    int n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    return n <= largest;
}

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::string FormatKeepOffRecord(const std::string& interfaceName, const KeepOffValues& values) {
    std::string text = kRecordHeading + interfaceName + "\n";
    for (const auto& [name, value] : values) text += name + " " + value + "\n";
    return text;
}

bool ParseKeepOffRecord(const std::string& text, const std::string& interfaceName,
                        KeepOffValues& values) {
    values.clear();
    if (text.size() > kMaxRecordSize || text.empty() || text.back() != '\n') return false;
    std::size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != kRecordHeading + interfaceName) return false;
            first = false;
            continue;
        }
        const std::size_t space = line.find(' ');
        if (space == std::string::npos) return false;
        const std::string name = line.substr(0, space);
        const std::string value = line.substr(space + 1);
        const Setting* s = Find(name);
        if (s == nullptr || values.count(name) != 0 || !InRange(value, s->largest)) return false;
        values[name] = value;
    }
    return !first;
}

void KernelKeepOff::KeepRecord(int folder, std::string name) {
    folder_ = folder;
    recordName_ = std::move(name);
}

bool KernelKeepOff::ReadRecord(const std::string& interfaceName, KeepOffValues& values) const {
    const int fd = openat(folder_, recordName_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    std::string text(kMaxRecordSize + 1, '\0');
    ssize_t n = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = read(fd, text.data(), text.size());
    close(fd);
    text.resize(n > 0 ? std::size_t(n) : 0);
    if (ParseKeepOffRecord(text, interfaceName, values)) return true;
    std::fprintf(stderr, "ferrovane-sys: ignoring %s: not a record of %s's settings\n",
                 recordName_.c_str(), interfaceName.c_str());
    return false;
}

bool KernelKeepOff::WriteRecord(const std::string& interfaceName, const KeepOffValues& values,
                                std::string& error) const {
    // Written aside and renamed over: a crash leaves the old record or the new, never half.
    const std::string temporary = recordName_ + ".new";
    unlinkat(folder_, temporary.c_str(), 0);
    const int fd = openat(folder_, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kRecordMode);
    if (fd < 0) {
        error = ErrnoText("create " + temporary);
        return false;
    }
    const std::string text = FormatKeepOffRecord(interfaceName, values);
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size()) && fsync(fd) == 0;
    if (close(fd) != 0 || !written ||
        renameat(folder_, temporary.c_str(), folder_, recordName_.c_str()) != 0) {
        error = ErrnoText("write " + recordName_);
        unlinkat(folder_, temporary.c_str(), 0);
        return false;
    }
    fsync(folder_);
    return true;
}

bool KernelKeepOff::Apply(const std::string& interfaceName, std::string& error) {
    Undo();
    KeepOffValues now;
    for (const Setting& s : kSettings) {
        // IPv6 may be absent from the kernel; nothing to keep off then.
        std::string value;
        if (ReadSysctl(SysctlPath(s, interfaceName), value)) now[s.name] = value;
    }
    KeepOffValues old = now;
    if (folder_ >= 0) {
        // What an earlier run kept is what the interface had before any of ours touched it.
        KeepOffValues recorded;
        if (ReadRecord(interfaceName, recorded)) {
            for (auto& [name, value] : old) {
                if (const auto it = recorded.find(name); it != recorded.end()) value = it->second;
            }
        }
        if (!WriteRecord(interfaceName, old, error)) return false;
        recorded_ = true;
    }
    for (const Setting& s : kSettings) {
        const auto it = old.find(s.name);
        if (it == old.end()) continue;
        const std::string path = SysctlPath(s, interfaceName);
        if (!WriteSysctl(path, s.value)) {
            error = ErrnoText("write " + path);
            Undo();
            return false;
        }
        saved_.emplace_back(path, it->second);
    }
    return true;
}

void KernelKeepOff::Undo() {
    bool restored = true;
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        restored = WriteSysctl(it->first, it->second) && restored;
    }
    // Kept when a value could not be put back, so that a later run still knows it.
    if (recorded_ && restored) unlinkat(folder_, recordName_.c_str(), 0);
    recorded_ = false;
    saved_.clear();
}

}  // namespace ndis::linux_media
