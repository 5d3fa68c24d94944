// Command line of ferrovane-sys.
#pragma once

#include <string>
#include <vector>

#include "fv_contract/DeviceNames.h"

namespace fv::host {

inline constexpr const char* kUpperPrefix = "fv-";

struct Binding {
    std::string lower;  // the real interface
    std::string upper;  // the TAP device the IP stack uses
};

// How --attach filters: in the kernel, through the packet queue, or the kernel where it can.
enum class AttachMode { Auto, Bpf, Queue };

struct HostOptions {
    std::string deviceDir;
    std::string deviceGroup;  // empty: no group may open the device
    std::vector<Binding> bindings;
    std::vector<std::string> attachments;  // interfaces filtered in place
    AttachMode attachMode = AttachMode::Auto;
    std::vector<std::string> detach;  // remove a crashed daemon's kernel filters, then exit
    bool sim = false;
};

// Parses the arguments after the program name. `environmentDeviceDir` is the value of
// FERROVANE_DEVICE_DIR or null. False with `error` set on a bad command line.
bool ParseHostOptions(const std::vector<std::string>& args, const char* environmentDeviceDir,
                      HostOptions& options, std::string& error);

extern const char* const kHostUsage;

}  // namespace fv::host
