#include "fv_gui/dialogs/RippleAnimator.h"

#include <pthread.h>

#include <algorithm>
#include <cstddef>

namespace fv::dialogs {

RippleAnimator::RippleAnimator(std::vector<std::uint32_t> source, int width, int height, int scale)
    : ripple_(width, height), scale_(std::clamp(scale, 1, Ripple::kMaxScale)), source_(std::move(source)) {
    const std::size_t pixels = static_cast<std::size_t>(ripple_.Width()) * static_cast<std::size_t>(ripple_.Height()) *
                               static_cast<std::size_t>(scale_) * static_cast<std::size_t>(scale_);
    if (source_.size() != pixels) source_.assign(pixels, 0);
    display_ = source_;
}

RippleAnimator::~RippleAnimator() { Stop(); }

void RippleAnimator::Start(FrameReady frameReady) {
    if (thread_.joinable()) return;
    {
        std::lock_guard guard(stopLock_);
        stop_ = false;
    }
    thread_ = std::thread([this, ready = std::move(frameReady)] {
        ::pthread_setname_np(::pthread_self(), "fv-ripple");
        Run(ready);
    });
}

void RippleAnimator::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard guard(stopLock_);
        stop_ = true;
    }
    stopSignal_.notify_all();
    thread_.join();
}

void RippleAnimator::Run(const FrameReady& frameReady) {
    std::unique_lock stopGuard(stopLock_);
    while (!stop_) {
        stopGuard.unlock();
        Step();
        if (frameReady) frameReady();
        stopGuard.lock();
        stopSignal_.wait_for(stopGuard, kRipplePeriod, [this] { return stop_; });
    }
}

void RippleAnimator::Step() {
    std::lock_guard guard(lock_);
    (void)ripple_.Step(source_, display_, scale_);
}

void RippleAnimator::Disturb(int x, int y, int radius, int depth) {
    std::lock_guard guard(lock_);
    ripple_.Disturb(x, y, radius, depth);
}

void RippleAnimator::ReadDisplay(const DisplayReader& reader) const {
    std::lock_guard guard(lock_);
    reader(display_, ripple_.Width() * scale_, ripple_.Height() * scale_);
}

}  // namespace fv::dialogs
