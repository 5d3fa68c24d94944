// Waiting for what another thread or process brings about: polled, never a fixed sleep, so
// that a slow (sanitized) build waits longer instead of failing.
#pragma once

#include <chrono>
#include <thread>

namespace fv::test {

// Asks `condition` every 10 ms for up to `ms`; its last answer.
template <typename Condition>
bool WaitUntil(Condition condition, int ms = 10000) {
    constexpr int kStepMs = 10;
    for (int waited = 0; waited < ms; waited += kStepMs) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    }
    return condition();
}

}  // namespace fv::test
