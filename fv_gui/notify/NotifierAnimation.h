// The notifier popup's arithmetic: where the panel is, how the popup slides out of it and back,
// and the phases driven by its three timers. No Qt here; the widget runs the timers it asks for.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace fv::notify {

inline constexpr int kTimerStepMs = 10;       // shortest animation period
inline constexpr int kPanelSnapDistance = 20;  // a panel edge this close to the screen's counts as on it

// Screen rectangle; right and bottom are exclusive.
struct ScreenRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const ScreenRect&) const = default;
};

enum class TaskbarEdge { Left = 0, Top = 1, Right = 2, Bottom = 3 };
enum class NotifierPhase { Hidden = 0, Appearing = 1, Waiting = 2, Disappearing = 3 };

// The panel: the widest strip of the screen left outside its available area (bottom first on a
// tie). Without one, a zero-height strip along the bottom of the work area.
[[nodiscard]] ScreenRect PanelRect(const ScreenRect& screen, const ScreenRect& available);

// Which screen edge the panel is on.
[[nodiscard]] TaskbarEdge PanelEdge(const ScreenRect& panel, const ScreenRect& screen);

struct SlideSteps {
    int period;     // timer period, ms
    int increment;  // pixels a tick
};
// Steps for sliding `extent` pixels in `time` ms: never faster than the timer step, never
// less than one pixel a tick; a time not above the step slides in one tick.
[[nodiscard]] SlideSteps ComputeSteps(int time, int extent, int timerStep);

struct PopupGeometry {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const PopupGeometry&) const = default;
};

class NotifierAnimation {
public:
    static constexpr int kShowTimer = 1;
    static constexpr int kStayTimer = 2;
    static constexpr int kHideTimer = 3;

    explicit NotifierAnimation(int timerStep = kTimerStepMs) : timerStep_(timerStep) {}

    void SetSkinSize(int width, int height) {
        skinWidth_ = width;
        skinHeight_ = height;
    }
    void SetMinimumGap(std::uint32_t ms) { minimumGap_ = ms; }
    std::uint32_t MinimumGap() const { return minimumGap_; }

    // Accepts a popup unless one is on screen or the last one was shown less than the minimum
    // gap ago (32-bit tick arithmetic); a popup without a skin is refused too.
    [[nodiscard]] bool Show(std::uint32_t now, const ScreenRect& screen, const ScreenRect& available,
                            int showTime, int stayTime, int hideTime);
    void Tick(int timerId);
    void Hover();
    void Leave();
    void CloseClicked();

    NotifierPhase Phase() const { return phase_; }
    TaskbarEdge Edge() const { return edge_; }
    bool Busy() const { return busy_; }
    bool MouseOver() const { return mouseOver_; }
    bool Visible() const { return visible_; }
    const PopupGeometry& Geometry() const { return geometry_; }
    SlideSteps ShowSteps() const { return show_; }
    SlideSteps HideSteps() const { return hide_; }

    struct Timer {
        bool running = false;
        int period = 0;
        unsigned starts = 0;  // counts (re)starts, so a restarted timer is told from a running one
    };
    const Timer& TimerState(int id) const { return timers_[static_cast<std::size_t>(id)]; }

private:
    void Start(int id, int period);
    void Stop(int id) { timers_[static_cast<std::size_t>(id)].running = false; }
    void StopCurrentPhaseTimer();
    void HideNow();

    int timerStep_;
    int skinWidth_ = 0, skinHeight_ = 0;
    std::uint32_t minimumGap_ = 0;
    std::uint32_t lastShow_ = 0;
    int stayTime_ = 0;
    SlideSteps show_{0, 0}, hide_{0, 0};
    NotifierPhase phase_ = NotifierPhase::Hidden;
    TaskbarEdge edge_ = TaskbarEdge::Bottom;
    PopupGeometry geometry_;
    bool busy_ = false, mouseOver_ = false, visible_ = false;
    std::array<Timer, 4> timers_{};
};

// Opaque parts of a skin: every maximal run of pixels that differ from `key` (0xRRGGBB, alpha
// ignored), one pixel high, scanning rows bottom-up and each row left to right.
struct PixelRun {
    int x, y, width;
    bool operator==(const PixelRun&) const = default;
};
[[nodiscard]] std::vector<PixelRun> OpaqueRuns(const std::uint32_t* pixels, int width, int height,
                                               int pixelsPerRow, std::uint32_t key);

// Close button: frame 0 normal, 1 pressed, 2 hover; the button's rectangle includes both ends.
[[nodiscard]] int CloseButtonFrame(bool cursorOnButton, bool pressed);
[[nodiscard]] bool CloseButtonContains(int x, int y, int left, int top, int width, int height);

}  // namespace fv::notify
