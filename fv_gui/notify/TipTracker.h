// When the hover tip shows, follows and hides: a state machine fed with mouse moves and the two
// timers, answering with what the window must do.
#pragma once

#include <map>
#include <string>

namespace fv {

// A window, known only by identity: never dereferenced.
using TipWindow = const void*;

struct TipOptions {
    bool follow = false;       // lay the tip out again on every move while visible
    bool atCursor = false;     // above the cursor instead of beside the control
    bool noAutoHide = false;   // no hide timer
    bool hideOverTip = false;  // moving onto the tip itself hides it too
};

struct TipActions {
    bool hide = false;
    bool layoutAndShow = false;
    bool startShowTimer = false;
    bool stopShowTimer = false;
    bool startHideTimer = false;
    bool stopHideTimer = false;
};

class TipTracker {
public:
    static constexpr int kShowDelayMs = 1500;
    static constexpr int kHideDelayMs = 3000;

    // Registers or replaces a control's text; the text becomes the current one.
    void AddTool(TipWindow control, const std::string& text);

    // The mouse moved over window; isTip tells whether that window is the tip itself.
    [[nodiscard]] TipActions OnMouseMove(TipWindow window, bool isTip);
    [[nodiscard]] TipActions OnShowTimer();
    // windowShown: whether the tip's window is on screen when the timer fires.
    [[nodiscard]] TipActions OnHideTimer(bool windowShown);

    [[nodiscard]] const std::string& CurrentText() const { return text_; }
    [[nodiscard]] TipWindow CurrentControl() const { return current_; }
    [[nodiscard]] bool Visible() const { return visible_; }

    TipOptions options;

private:
    std::map<TipWindow, std::string> tools_;
    std::string text_;
    TipWindow current_ = nullptr;
    bool pending_ = false;
    bool visible_ = false;
    bool shown_ = false;
    bool expired_ = false;
    bool armed_ = false;
};

}  // namespace fv
