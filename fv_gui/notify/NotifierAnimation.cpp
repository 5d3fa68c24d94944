#include "fv_gui/notify/NotifierAnimation.h"

#include <algorithm>
#include <cstdlib>

namespace fv::notify {

ScreenRect PanelRect(const ScreenRect& s, const ScreenRect& a) {
    const int bottom = s.bottom - a.bottom, top = a.top - s.top;
    const int left = a.left - s.left, right = s.right - a.right;
    const int widest = std::max({bottom, top, left, right});
    if (widest <= 0) return {a.left, a.bottom, a.right, a.bottom};
    if (bottom == widest) return {s.left, a.bottom, s.right, s.bottom};
    if (right == widest) return {a.right, s.top, s.right, s.bottom};
    if (left == widest) return {s.left, s.top, a.left, s.bottom};
    return {s.left, s.top, s.right, a.top};
}

TaskbarEdge PanelEdge(const ScreenRect& panel, const ScreenRect& screen) {
    const int left = panel.left - screen.left, right = panel.right - screen.left;
    const int top = panel.top - screen.top;
    const int width = screen.right - screen.left;
    const bool atLeft = std::abs(left) < kPanelSnapDistance;
    if (atLeft && std::abs(right - width) < kPanelSnapDistance)
        return std::abs(top) < kPanelSnapDistance ? TaskbarEdge::Top : TaskbarEdge::Bottom;
    return atLeft ? TaskbarEdge::Left : TaskbarEdge::Right;
}

SlideSteps ComputeSteps(int time, int extent, int timerStep) {
    if (time > timerStep) {
        const int n = std::max(1, std::min(time / timerStep, extent));
        return {time / n, extent / n};
    }
    return {timerStep, extent};
}

bool NotifierAnimation::Show(std::uint32_t now, const ScreenRect& screen, const ScreenRect& available,
                             int showTime, int stayTime, int hideTime) {
    if (now - lastShow_ < minimumGap_ || busy_) return false;
    if (skinWidth_ <= 0 || skinHeight_ <= 0) return false;
    lastShow_ = now;
    stayTime_ = stayTime;

    const ScreenRect bar = PanelRect(screen, available);
    edge_ = PanelEdge(bar, screen);
    const bool horizontal = edge_ == TaskbarEdge::Top || edge_ == TaskbarEdge::Bottom;
    const int extent = horizontal ? skinHeight_ : skinWidth_;
    show_ = ComputeSteps(showTime, extent, timerStep_);
    hide_ = ComputeSteps(hideTime, extent, timerStep_);

    switch (edge_) {
    case TaskbarEdge::Left: geometry_ = {bar.right, bar.bottom - skinHeight_, 0, skinHeight_}; break;
    case TaskbarEdge::Top: geometry_ = {bar.right - skinWidth_, bar.bottom, skinWidth_, 0}; break;
    case TaskbarEdge::Right: geometry_ = {bar.left, bar.bottom - skinHeight_, 0, skinHeight_}; break;
    case TaskbarEdge::Bottom: geometry_ = {bar.right - skinWidth_, bar.top, skinWidth_, 0}; break;
    }
    visible_ = true;
    Start(kShowTimer, show_.period);
    return true;
}

void NotifierAnimation::Tick(int timerId) {
    PopupGeometry& g = geometry_;
    switch (timerId) {
    case kShowTimer: {
        busy_ = true;
        phase_ = NotifierPhase::Appearing;
        const int step = show_.increment;
        bool growing = true;
        switch (edge_) {
        case TaskbarEdge::Left: growing = g.width < skinWidth_; if (growing) g.width += step; break;
        case TaskbarEdge::Top: growing = g.height < skinHeight_; if (growing) g.height += step; break;
        case TaskbarEdge::Right:
            growing = g.width < skinWidth_;
            if (growing) { g.left -= step; g.width += step; }
            break;
        case TaskbarEdge::Bottom:
            growing = g.height < skinHeight_;
            if (growing) { g.top -= step; g.height += step; }
            break;
        }
        if (!growing) {
            Stop(kShowTimer);
            Start(kStayTimer, stayTime_);
            phase_ = NotifierPhase::Waiting;
        }
        break;
    }
    case kStayTimer:
        busy_ = true;
        Stop(kStayTimer);
        Start(kHideTimer, hide_.period);
        break;
    case kHideTimer: {
        busy_ = true;
        phase_ = NotifierPhase::Disappearing;
        const int step = hide_.increment;
        bool shrinking = true;
        switch (edge_) {
        case TaskbarEdge::Left: shrinking = g.width > 0; if (shrinking) g.width -= step; break;
        case TaskbarEdge::Top: shrinking = g.height > 0; if (shrinking) g.height -= step; break;
        case TaskbarEdge::Right:
            shrinking = g.width > 0;
            if (shrinking) { g.left += step; g.width -= step; }
            break;
        case TaskbarEdge::Bottom:
            shrinking = g.height > 0;
            if (shrinking) { g.top += step; g.height -= step; }
            break;
        }
        if (!shrinking) {
            Stop(kHideTimer);
            HideNow();
            busy_ = false;
        }
        break;
    }
    default: break;
    }
}

void NotifierAnimation::Hover() {
    if (phase_ == NotifierPhase::Waiting) Stop(kStayTimer);
    mouseOver_ = true;
}

void NotifierAnimation::Leave() {
    if (!mouseOver_) return;
    mouseOver_ = false;
    if (phase_ == NotifierPhase::Waiting) Start(kStayTimer, stayTime_);
}

void NotifierAnimation::CloseClicked() {
    StopCurrentPhaseTimer();
    phase_ = NotifierPhase::Disappearing;
    Start(kHideTimer, hide_.period);
}

void NotifierAnimation::Start(int id, int period) {
    Timer& t = timers_[static_cast<std::size_t>(id)];
    t.running = true;
    t.period = period;
    ++t.starts;
}

void NotifierAnimation::StopCurrentPhaseTimer() {
    // Before its first tick a shown popup is still in phase 0 with the show timer running.
    Stop(phase_ == NotifierPhase::Hidden ? kShowTimer : static_cast<int>(phase_));
}

void NotifierAnimation::HideNow() {
    // Every timer stops with the popup: a stay timer restarted by a late mouse leave would
    // otherwise start a hide in the middle of the next popup's slide.
    for (int id = kShowTimer; id <= kHideTimer; ++id) Stop(id);
    geometry_ = {};
    visible_ = false;
    mouseOver_ = false;
    phase_ = NotifierPhase::Hidden;
}

std::vector<PixelRun> OpaqueRuns(const std::uint32_t* pixels, int width, int height, int pixelsPerRow,
                                 std::uint32_t key) {
    std::vector<PixelRun> runs;
    if (!pixels || width <= 0 || height <= 0 || pixelsPerRow < width) return runs;
    key &= 0xFFFFFFu;
    for (int y = height - 1; y >= 0; --y) {
        const std::uint32_t* row = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(pixelsPerRow);
        int x = 0;
        while (x < width) {
            while (x < width && (row[x] & 0xFFFFFFu) == key) ++x;
            const int first = x;
            while (x < width && (row[x] & 0xFFFFFFu) != key) ++x;
            if (x > first) runs.push_back({first, y, x - first});
        }
    }
    return runs;
}

int CloseButtonFrame(bool cursorOnButton, bool pressed) {
    if (!cursorOnButton) return 0;
    return pressed ? 1 : 2;
}

bool CloseButtonContains(int x, int y, int left, int top, int width, int height) {
    return x >= left && x <= left + width && y >= top && y <= top + height;
}

}  // namespace fv::notify
