#include "fv_drv/host/HostOptions.h"

#include <net/if.h>

#include <algorithm>

#include "fv_drv/ndis/nfqueue/QueueAdapter.h"
#include "fv_drv/ndis/nfqueue/QueueRules.h"

namespace fv::host {

const char* const kHostUsage =
    "usage: ferrovane-sys [--device-dir DIR] [--device-group NAME] [--bind LOWER[=UPPER]]... "
    "[--attach IFACE]... [--attach-mode bpf|queue|auto] [--sim]\n"
    "       ferrovane-sys --detach IFACE...\n";

namespace {

bool ValidInterfaceName(const std::string& name) {
    if (name.empty() || name.size() >= IFNAMSIZ) return false;
    for (char c : name) {
        if (c == '/' || c == ':' || c == ' ' || c == '=' || c == '\0') return false;
    }
    return name != "." && name != "..";
}

}  // namespace

bool ParseHostOptions(const std::vector<std::string>& args, const char* environmentDeviceDir,
                      HostOptions& options, std::string& error) {
    options = {};
    options.deviceDir = environmentDeviceDir != nullptr && *environmentDeviceDir != '\0'
                            ? environmentDeviceDir
                            : kDefaultDeviceDir;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == "--device-dir") {
            if (!value(options.deviceDir)) return false;
        } else if (a == "--device-group") {
            if (!value(options.deviceGroup)) return false;
        } else if (a == "--bind") {
            std::string argument;
            if (!value(argument)) return false;
            Binding b;
            const auto eq = argument.find('=');
            b.lower = argument.substr(0, eq);
            b.upper = eq == std::string::npos ? kUpperPrefix + b.lower : argument.substr(eq + 1);
            if (!ValidInterfaceName(b.lower) || !ValidInterfaceName(b.upper)) {
                error = "bad interface name in --bind " + argument;
                return false;
            }
            for (const Binding& other : options.bindings) {
                if (other.lower == b.lower || other.upper == b.upper || other.upper == b.lower ||
                    other.lower == b.upper) {
                    error = "interface named twice in --bind " + argument;
                    return false;
                }
            }
            if (b.lower == b.upper) {
                error = "--bind " + argument + " names one interface twice";
                return false;
            }
            options.bindings.push_back(b);
        } else if (a == "--attach") {
            std::string name;
            if (!value(name)) return false;
            if (!ndis::nfqueue_media::AttachableName(name)) {
                error = "bad interface name in --attach " + name;
                return false;
            }
            if (std::find(options.attachments.begin(), options.attachments.end(), name) !=
                options.attachments.end()) {
                error = "--attach " + name + " given twice";
                return false;
            }
            options.attachments.push_back(name);
        } else if (a == "--attach-mode") {
            std::string mode;
            if (!value(mode)) return false;
            if (mode == "auto") {
                options.attachMode = AttachMode::Auto;
            } else if (mode == "bpf") {
                options.attachMode = AttachMode::Bpf;
            } else if (mode == "queue") {
                options.attachMode = AttachMode::Queue;
            } else {
                error = "--attach-mode is bpf, queue or auto, not " + mode;
                return false;
            }
        } else if (a == "--detach") {
            std::string name;
            if (!value(name)) return false;
            if (!ValidInterfaceName(name)) {
                error = "bad interface name in --detach " + name;
                return false;
            }
            options.detach.push_back(name);
        } else if (a == "--sim") {
            options.sim = true;
        } else {
            error = "unknown argument " + a;
            return false;
        }
    }
    // An attached interface carries its own traffic: no intermediate may take it, and no TAP
    // may take its virtual adapter's name.
    for (const std::string& name : options.attachments) {
        const std::string attached = ndis::nfqueue_media::AttachedAdapterName(name);
        for (const Binding& b : options.bindings) {
            if (b.lower == name || b.upper == name || b.upper == attached) {
                error = "--attach " + name + " and --bind " + b.lower + "=" + b.upper +
                        " name one interface";
                return false;
            }
        }
    }
    if (!options.detach.empty()) {
        if (!options.bindings.empty() || !options.attachments.empty() || options.sim) {
            error = "--detach runs alone";
            return false;
        }
        return true;
    }
    if (options.bindings.empty() && options.attachments.empty() && !options.sim) {
        error = "nothing to bind: give --bind LOWER, --attach IFACE or --sim";
        return false;
    }
    return true;
}

}  // namespace fv::host
