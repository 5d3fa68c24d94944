// Descriptors the service manager kept for us from an earlier run (its file descriptor store,
// handed over as LISTEN_FDS with LISTEN_FDNAMES): the kernel filter's program and maps, which
// a daemon without CAP_SYS_ADMIN could not open again by id after a crash.
#pragma once

#include <map>
#include <string>

#include "fv_platform/UniqueFd.h"

namespace fv::host {

class StoredFds {
public:
    // Takes the descriptors meant for this process and removes the variables from the
    // environment. Call first thing, before any thread starts or descriptor is opened.
    static StoredFds FromEnvironment();

    // A copy of the descriptor kept under `name`, or -1.
    int Copy(const std::string& name) const;

private:
    std::map<std::string, fv::UniqueFd> fds_;
};

}  // namespace fv::host
