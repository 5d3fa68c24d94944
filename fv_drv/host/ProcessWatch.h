// Watches the processes that created the driver's named events and reports each one's end to
// the driver. One process per slot: a slot's newer creator replaces the older, so a peer that
// creates again and again holds no more than the slots.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "fv_platform/UniqueFd.h"

namespace fv::host {

class ProcessWatch {
public:
    static constexpr std::size_t kSlots = 3;

    ProcessWatch() = default;
    ~ProcessWatch() { Stop(); }
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    // Watches `pid` for `slot` from now on. Best effort: a process that cannot be watched is
    // reported by no one.
    void Watch(std::size_t slot, pid_t pid);
    void Stop();

private:
    struct Entry {
        pid_t pid = 0;
        fv::UniqueFd fd;  // the process's pidfd, readable once it has ended
    };
    void Loop();

    std::mutex lock_;
    std::array<Entry, kSlots> entries_;
    // Descriptors replaced while the loop may be polling them; only the loop closes them, so
    // a descriptor number it polls always means the same process.
    std::vector<fv::UniqueFd> retired_;
    fv::UniqueFd wake_;
    std::thread thread_;
    bool stopping_ = false;
};

}  // namespace fv::host
