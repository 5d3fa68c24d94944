#include "fv_gui/notify/TipTracker.h"

namespace fv {

void TipTracker::AddTool(TipWindow control, const std::string& text) {
    text_ = text.empty() ? "<no text>" : text;
    tools_[control] = text;
}

TipActions TipTracker::OnMouseMove(TipWindow window, bool isTip) {
    TipActions actions;
    const auto tool = tools_.find(window);
    if (tool == tools_.end()) {
        if (visible_ && (options.hideOverTip || !isTip)) {
            actions.hide = true;
            visible_ = false;
        }
        // A request not yet shown is dropped with its timer: otherwise the timer would mark the
        // tip visible while nothing is on screen, and the next rest on the control shows nothing.
        if (pending_) {
            pending_ = false;
            actions.stopShowTimer = true;
        }
        expired_ = false;
        armed_ = false;
        return actions;
    }
    if (window != current_) {
        // A new control starts its own request, even while the last one is still pending:
        // that one would otherwise show the old control's text over the new control.
        actions.hide = visible_;
        visible_ = false;
        pending_ = false;
    }
    if (pending_ || visible_) {
        if (visible_ && options.follow) actions.layoutAndShow = true;
        return actions;
    }
    pending_ = true;
    shown_ = false;
    current_ = window;
    text_ = tool->second;
    actions.startShowTimer = true;
    armed_ = true;
    return actions;
}

TipActions TipTracker::OnShowTimer() {
    TipActions actions;
    if (visible_ || shown_ || expired_) return actions;
    pending_ = false;
    visible_ = true;
    shown_ = true;
    if (armed_) {
        actions.stopShowTimer = true;
        actions.layoutAndShow = true;
        actions.startHideTimer = !options.noAutoHide;
    }
    return actions;
}

TipActions TipTracker::OnHideTimer(bool windowShown) {
    TipActions actions;
    actions.stopHideTimer = true;
    if (windowShown) {
        actions.hide = true;
        visible_ = false;
        expired_ = true;
    }
    return actions;
}

}  // namespace fv
