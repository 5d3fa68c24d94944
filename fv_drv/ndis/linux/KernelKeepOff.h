// Keeps the kernel's IP stack off an interface whose traffic the driver carries: no IPv6, no ARP
// answers, IPv4 arriving there dropped by the reverse-path check. Restores the old values when
// undone. The old values can be kept in a file as well, written before the first change: a
// daemon started after a crash then restores those, not the ones its predecessor left.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace ndis::linux_media {

// The settings by their short name, e.g. "rp_filter" -> "2".
using KeepOffValues = std::map<std::string, std::string>;

// The file's text for `interfaceName`, and its strict reading: only that interface, only the
// settings changed here, each once, each a small number in its range. False for anything else.
std::string FormatKeepOffRecord(const std::string& interfaceName, const KeepOffValues& values);
bool ParseKeepOffRecord(const std::string& text, const std::string& interfaceName,
                        KeepOffValues& values);

class KernelKeepOff {
public:
    // Keeps the old values in `name` inside the open folder `folder` (which must outlive this).
    void KeepRecord(int folder, std::string name);
    bool Apply(const std::string& interfaceName, std::string& error);
    void Undo();
    ~KernelKeepOff() { Undo(); }

private:
    // Reads the record if there is one we can trust; false when there is none.
    bool ReadRecord(const std::string& interfaceName, KeepOffValues& values) const;
    bool WriteRecord(const std::string& interfaceName, const KeepOffValues& values,
                     std::string& error) const;

    int folder_ = -1;
    std::string recordName_;
    bool recorded_ = false;  // the record holds what saved_ will put back
    std::vector<std::pair<std::string, std::string>> saved_;  // sysctl path, old value
};

}  // namespace ndis::linux_media
