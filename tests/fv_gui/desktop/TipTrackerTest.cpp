#include "fv_gui/notify/TipTracker.h"

#include <gtest/gtest.h>

namespace fv {
namespace {

// Stand-ins for windows: only their addresses matter.
int windows[4];
const TipWindow reset = &windows[0], logButton = &windows[1], dialog = &windows[2], tip = &windows[3];

class TipTrackerTest : public testing::Test {
protected:
    void SetUp() override {
        tracker.AddTool(reset, "Reset the counts.");
        tracker.AddTool(logButton, "Open the log file in notepad.");
    }
    // Rests on a control until the show timer fires; true when the tip comes on screen.
    bool RestOn(TipWindow control) {
        (void)tracker.OnMouseMove(control, false);
        return tracker.OnShowTimer().layoutAndShow;
    }
    TipTracker tracker;
};

TEST_F(TipTrackerTest, ShowsAfterTheDelayThenExpiresUntilTheMouseLeaves) {
    const TipActions first = tracker.OnMouseMove(reset, false);
    EXPECT_TRUE(first.startShowTimer);
    EXPECT_FALSE(first.layoutAndShow);
    EXPECT_FALSE(tracker.OnMouseMove(reset, false).startShowTimer);  // already pending
    const TipActions shown = tracker.OnShowTimer();
    EXPECT_TRUE(shown.layoutAndShow);
    EXPECT_TRUE(shown.startHideTimer);
    EXPECT_EQ(tracker.CurrentText(), "Reset the counts.");

    EXPECT_TRUE(tracker.OnHideTimer(true).hide);
    EXPECT_FALSE(RestOn(reset));  // expired: not again on the same control
    (void)tracker.OnMouseMove(dialog, false);
    EXPECT_TRUE(RestOn(reset));
}

TEST_F(TipTrackerTest, WithOptionsOffTheTipStaysWhileTheMouseIsOnIt) {
    ASSERT_TRUE(RestOn(reset));
    EXPECT_FALSE(tracker.OnMouseMove(tip, true).hide);
    EXPECT_TRUE(tracker.Visible());
    EXPECT_FALSE(tracker.OnMouseMove(reset, false).layoutAndShow);  // does not follow
    EXPECT_TRUE(tracker.OnMouseMove(dialog, false).hide);
}

TEST_F(TipTrackerTest, AsTheMainWindowSetsItFollowsNeverExpiresAndHidesOnTheTip) {
    tracker.options = {true, true, true, true};
    ASSERT_TRUE(RestOn(reset));
    const TipActions shown = tracker.OnShowTimer();
    EXPECT_FALSE(shown.layoutAndShow);  // already visible
    TipActions move = tracker.OnMouseMove(reset, false);
    EXPECT_TRUE(move.layoutAndShow);
    EXPECT_FALSE(move.hide);
    move = tracker.OnMouseMove(tip, true);
    EXPECT_TRUE(move.hide);
    EXPECT_FALSE(tracker.Visible());
}

TEST_F(TipTrackerTest, AutoHideIsStartedOnlyWithoutTheOption) {
    tracker.options.noAutoHide = true;
    (void)tracker.OnMouseMove(reset, false);
    EXPECT_FALSE(tracker.OnShowTimer().startHideTimer);
}

TEST_F(TipTrackerTest, AnotherControlGetsItsOwnRequestAndText) {
    ASSERT_TRUE(RestOn(reset));
    const TipActions move = tracker.OnMouseMove(logButton, false);
    EXPECT_TRUE(move.hide);
    EXPECT_TRUE(move.startShowTimer);
    EXPECT_TRUE(tracker.OnShowTimer().layoutAndShow);
    EXPECT_EQ(tracker.CurrentText(), "Open the log file in notepad.");

    // Straight from one control to the next before the first tip showed.
    (void)tracker.OnMouseMove(dialog, false);
    (void)tracker.OnMouseMove(reset, false);
    EXPECT_TRUE(tracker.OnMouseMove(logButton, false).startShowTimer);
    EXPECT_TRUE(tracker.OnShowTimer().layoutAndShow);
    EXPECT_EQ(tracker.CurrentText(), "Open the log file in notepad.");
}

TEST_F(TipTrackerTest, ABriefLeaveDropsTheRequestAndTheReturnStartsAnew) {
    (void)tracker.OnMouseMove(reset, false);
    EXPECT_TRUE(tracker.OnMouseMove(dialog, false).stopShowTimer);
    EXPECT_TRUE(tracker.OnMouseMove(reset, false).startShowTimer);
    EXPECT_TRUE(tracker.OnShowTimer().layoutAndShow);
}

TEST_F(TipTrackerTest, UnregisteredWindowsAndEmptyTexts) {
    EXPECT_FALSE(tracker.OnMouseMove(dialog, false).startShowTimer);
    tracker.AddTool(dialog, "");
    EXPECT_EQ(tracker.CurrentText(), "<no text>");
    EXPECT_TRUE(RestOn(dialog));
    EXPECT_EQ(tracker.CurrentText(), "");
}

}  // namespace
}  // namespace fv
