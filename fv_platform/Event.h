// Win32-style events on eventfd, so that an event can travel over a control connection.
#pragma once

#include <cstdint>
#include <utility>

#include "fv_platform/UniqueFd.h"

namespace fv {

// Anything a wait can be made on.
class Waitable {
public:
    virtual ~Waitable() = default;
    // A descriptor that polls readable while the object may be signalled.
    virtual int WaitFd() const = 0;
    // Takes the signal if it is there (consuming it for auto-reset objects).
    virtual bool TryAcquire() = 0;
};

class Event final : public Waitable {
public:
    enum class Mode { AutoReset, ManualReset };

    // Throws std::system_error when no eventfd can be had (the descriptor limit, say).
    explicit Event(Mode mode = Mode::AutoReset, bool initiallySignalled = false);
    // Adopts an existing eventfd (one received from another process, say).
    static Event Adopt(int fd, Mode mode);
    Event(Event&& other) noexcept = default;
    Event& operator=(Event&& other) noexcept = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event() override = default;

    bool Valid() const { return fd_.Valid(); }
    // Auto-reset: a set with no waiter leaves one signal however often it is repeated; a set
    // with waiters releases exactly one of them.
    void Set();
    void Reset();
    bool IsAutoReset() const { return mode_ == Mode::AutoReset; }
    int Fd() const { return fd_.Get(); }

    int WaitFd() const override { return fd_.Get(); }
    bool TryAcquire() override;

private:
    Event(UniqueFd fd, Mode mode) : fd_(std::move(fd)), mode_(mode) {}
    UniqueFd fd_;
    Mode mode_ = Mode::AutoReset;
};

}  // namespace fv
