// The about box's animation thread: every period it advances the ripple one step from the source
// picture into the display picture and reports a new frame. Mouse disturbances come from the
// window's thread; one mutex keeps the fields and the display picture whole for both.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "fv_gui/app/Ripple.h"

namespace fv::dialogs {

inline constexpr std::chrono::milliseconds kRipplePeriod{15};

class RippleAnimator {
public:
    using FrameReady = std::function<void()>;
    using DisplayReader = std::function<void(std::span<const std::uint32_t> pixels, int width, int height)>;

    // `source` holds width × height cells of scale × scale pixels (more than one for a scaled
    // screen), bottom row first; a picture of another size is replaced by a black one. The
    // display starts as a copy of it.
    RippleAnimator(std::vector<std::uint32_t> source, int width = Ripple::kWidth, int height = Ripple::kHeight,
                   int scale = 1);
    ~RippleAnimator();
    RippleAnimator(const RippleAnimator&) = delete;
    RippleAnimator& operator=(const RippleAnimator&) = delete;

    // Starts the thread; `frameReady` runs on it after every step.
    void Start(FrameReady frameReady);
    // Asks the thread to end and waits for it.
    void Stop();
    [[nodiscard]] bool Running() const { return thread_.joinable(); }

    void Disturb(int x, int y, int radius, int depth);
    // One step on the caller's thread (the animation thread does the same every period).
    void Step();
    // Calls `reader` with the display picture, and its size in pixels, while nobody changes it.
    void ReadDisplay(const DisplayReader& reader) const;

    [[nodiscard]] int Width() const { return ripple_.Width(); }
    [[nodiscard]] int Height() const { return ripple_.Height(); }
    [[nodiscard]] int Scale() const { return scale_; }

private:
    void Run(const FrameReady& frameReady);

    mutable std::mutex lock_;  // ripple_ and display_
    Ripple ripple_;
    const int scale_;
    std::vector<std::uint32_t> source_;
    std::vector<std::uint32_t> display_;

    std::mutex stopLock_;
    std::condition_variable stopSignal_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace fv::dialogs
