// A thread whose handle is waitable: it is signalled when the thread function returns.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "fv_platform/Event.h"

namespace fv {

class Thread {
public:
    Thread() = default;
    // A thread that cannot be created (no descriptor for its handle, no thread to be had) is
    // not started; StartError() says why.
    explicit Thread(std::function<void()> body);
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // Joins a thread that was neither joined nor abandoned.
    ~Thread();

    bool Started() const { return finished_ != nullptr; }
    const std::string& StartError() const { return error_; }
    // Manual-reset: every wait after the end succeeds.
    Waitable& Handle() { return *finished_; }
    bool Finished() const { return finished_ != nullptr && finished_->TryAcquire(); }
    void Join();
    // Gives up a thread that did not end in time. It is never killed, since it may hold a
    // lock; it runs on by itself and frees its own state when it returns.
    void Abandon();

private:
    std::shared_ptr<Event> finished_;
    std::thread thread_;
    std::string error_;
};

}  // namespace fv
