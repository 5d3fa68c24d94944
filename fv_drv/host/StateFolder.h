// The daemon's own folder below the device folder, which only the daemon may write: what must
// outlive a crash of the daemon, and the claims that keep a second daemon off its interfaces.
#pragma once

#include <string>

#include "fv_platform/UniqueFd.h"

namespace fv::host {

inline constexpr const char* kStateFolderName = "state";

struct StateFolder {
    // Creates the folder (0700) where missing and opens it. Refuses one that is a symbolic link,
    // not a folder, or owned by another user. False with `error` set.
    bool Open(const std::string& deviceDir, std::string& error);
    // Names of files kept for `interfaceName` in this network namespace: the namespace's own
    // identity keeps daemons of other namespaces, which see other interfaces, apart.
    std::string FileFor(const std::string& kind, const std::string& interfaceName) const;

    fv::UniqueFd fd;
    std::string networkNamespace;  // identity of the namespace the daemon runs in
};

}  // namespace fv::host
