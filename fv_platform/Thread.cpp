#include "fv_platform/Thread.h"

#include <exception>
#include <utility>

namespace fv {

Thread::Thread(std::function<void()> body) {
    try {
        finished_ = std::make_shared<Event>(Event::Mode::ManualReset);
        // The thread keeps its own reference to the event so that an abandoned thread can
        // still signal it after this object is gone.
        thread_ = std::thread([body = std::move(body), finished = finished_] {
            body();
            finished->Set();
        });
    } catch (const std::exception& error) {
        finished_.reset();
        error_ = error.what();
    }
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        if (thread_.joinable()) thread_.join();
        finished_ = std::move(other.finished_);
        thread_ = std::move(other.thread_);
        error_ = std::move(other.error_);
    }
    return *this;
}

Thread::~Thread() {
    if (thread_.joinable()) thread_.join();
}

void Thread::Join() {
    if (thread_.joinable()) thread_.join();
}

void Thread::Abandon() {
    if (thread_.joinable()) thread_.detach();
}

}  // namespace fv
