#include "fv_platform/Wait.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace fv {

std::uint32_t WaitForObjects(std::span<Waitable* const> objects, std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    if (objects.empty()) return kWaitFailed;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<pollfd> fds(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) fds[i] = {objects[i]->WaitFd(), POLLIN, 0};

    for (;;) {
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->TryAcquire()) return kWaitObject0 + std::uint32_t(i);
        }
        int waitMs = -1;
        if (timeoutMs != kInfinite) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return kWaitTimeout;
            waitMs = int(left.count());
        }
        const int ready = poll(fds.data(), fds.size(), waitMs);
        if (ready < 0 && errno != EINTR) return kWaitFailed;
        // Whether something became ready or the time ran out, the loop re-checks in index
        // order; a signal another waiter took first sends us back to waiting.
    }
}

std::uint32_t WaitForObjects(std::initializer_list<Waitable*> objects, std::uint32_t timeoutMs) {
    return WaitForObjects(std::span<Waitable* const>(objects.begin(), objects.size()), timeoutMs);
}

std::uint32_t WaitForObject(Waitable& object, std::uint32_t timeoutMs) {
    Waitable* one[] = {&object};
    return WaitForObjects(one, timeoutMs);
}

}  // namespace fv
