// Waiting in a window test for what the event loop brings about: events are handled while it
// waits, so that timers, D-Bus calls and posted steps can arrive.
#pragma once

#include <QApplication>

#include <chrono>
#include <thread>

namespace fv::test {

// Handles events and asks `predicate` every 10 ms for up to `ms`; its last answer.
template <typename Predicate>
bool WaitFor(Predicate predicate, int ms = 10000) {
    constexpr int kStepMs = 10;
    for (int waited = 0; waited < ms; waited += kStepMs) {
        QApplication::processEvents();
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    }
    QApplication::processEvents();
    return predicate();
}

}  // namespace fv::test
