#include "fv_gui/notify/NotifierAnimation.h"

#include <gtest/gtest.h>

namespace fv::notify {
namespace {

constexpr ScreenRect kScreen{0, 0, 1024, 768};
constexpr int kSkinW = 220, kSkinH = 130;
using A = NotifierAnimation;

TEST(SlideStepsTest, StepsNeverFasterThanTheTimerNorBelowOnePixel) {
    EXPECT_EQ(ComputeSteps(500, 130, 10).period, 10);     // 50 ticks
    EXPECT_EQ(ComputeSteps(500, 130, 10).increment, 2);
    EXPECT_EQ(ComputeSteps(500, 30, 10).period, 16);      // fewer, larger steps: one pixel each
    EXPECT_EQ(ComputeSteps(500, 30, 10).increment, 1);
    // A time not above the step slides in one tick.
    EXPECT_EQ(ComputeSteps(10, 130, 10).period, 10);
    EXPECT_EQ(ComputeSteps(10, 130, 10).increment, 130);
    EXPECT_EQ(ComputeSteps(-5, 130, 10).increment, 130);
    // No extent: no division by zero.
    EXPECT_EQ(ComputeSteps(500, 0, 10).increment, 0);
}

TEST(PanelTest, EdgeFromTheStripOutsideTheWorkArea) {
    auto edge = [](ScreenRect available) { return PanelEdge(PanelRect(kScreen, available), kScreen); };
    EXPECT_EQ(edge({0, 0, 1024, 740}), TaskbarEdge::Bottom);
    EXPECT_EQ(edge({0, 28, 1024, 768}), TaskbarEdge::Top);
    EXPECT_EQ(edge({48, 0, 1024, 768}), TaskbarEdge::Left);
    EXPECT_EQ(edge({0, 0, 976, 768}), TaskbarEdge::Right);
    // A top bar and a wider dock on the left: the dock is the panel.
    EXPECT_EQ(edge({64, 24, 1024, 768}), TaskbarEdge::Left);
    // No panel: the bottom of the work area.
    EXPECT_EQ(PanelRect(kScreen, kScreen), (ScreenRect{0, 768, 1024, 768}));
    EXPECT_EQ(edge(kScreen), TaskbarEdge::Bottom);
    // A second screen to the right of the first.
    const ScreenRect right{1024, 0, 2048, 768};
    EXPECT_EQ(PanelEdge(PanelRect(right, {1024, 0, 2048, 740}), right), TaskbarEdge::Bottom);
}

class NotifierTest : public ::testing::Test {
protected:
    NotifierTest() {
        a.SetSkinSize(kSkinW, kSkinH);
        a.SetMinimumGap(120000);
    }
    bool ShowAt(std::uint32_t now, int show = 500, int stay = 4000, int hide = 200,
                ScreenRect available = {0, 0, 1024, 740}) {
        return a.Show(now, kScreen, available, show, stay, hide);
    }
    // Ticks the running timer of `id` until it stops; returns the number of ticks.
    int RunTimer(int id, int limit = 1000) {
        int ticks = 0;
        while (a.TimerState(id).running && ticks < limit) {
            a.Tick(id);
            ++ticks;
        }
        return ticks;
    }
    NotifierAnimation a;
};

TEST_F(NotifierTest, SlidesOutStaysAndSlidesBack) {
    ASSERT_TRUE(ShowAt(200000));
    EXPECT_EQ(a.Phase(), NotifierPhase::Hidden);  // until the first tick
    EXPECT_EQ(a.Geometry(), (PopupGeometry{1024 - kSkinW, 740, kSkinW, 0}));
    EXPECT_EQ(a.TimerState(A::kShowTimer).period, 10);

    a.Tick(A::kShowTimer);
    EXPECT_EQ(a.Phase(), NotifierPhase::Appearing);
    EXPECT_TRUE(a.Busy());
    EXPECT_EQ(a.Geometry(), (PopupGeometry{1024 - kSkinW, 738, kSkinW, 2}));

    // 130 / 2 = 65 growing ticks, then the tick that finds it fully out.
    EXPECT_EQ(RunTimer(A::kShowTimer), 65);
    EXPECT_EQ(a.Phase(), NotifierPhase::Waiting);
    EXPECT_EQ(a.Geometry().height, kSkinH);
    EXPECT_EQ(a.Geometry().top, 740 - kSkinH);
    EXPECT_EQ(a.TimerState(A::kStayTimer).period, 4000);

    a.Tick(A::kStayTimer);
    EXPECT_EQ(a.Phase(), NotifierPhase::Waiting);  // until the hide timer's first tick
    EXPECT_FALSE(a.TimerState(A::kStayTimer).running);
    EXPECT_EQ(a.TimerState(A::kHideTimer).period, 10);
    EXPECT_EQ(RunTimer(A::kHideTimer), 23);  // 22 shrinking ticks of 6 px, then the one that hides
    EXPECT_EQ(a.Phase(), NotifierPhase::Hidden);
}

TEST_F(NotifierTest, LastStepsMayPassTheSkinAndItIsStillHidden) {
    // 130 px at 6 px a tick: the 22nd shrinking tick leaves the height at -2; the next one hides.
    ASSERT_TRUE(ShowAt(200000, 500, 4000, 200));
    EXPECT_EQ(a.HideSteps().increment, 6);
    RunTimer(A::kShowTimer);
    a.Tick(A::kStayTimer);
    for (int i = 0; i < 22; ++i) a.Tick(A::kHideTimer);
    EXPECT_EQ(a.Geometry().height, -2);
    EXPECT_EQ(a.Phase(), NotifierPhase::Disappearing);
    a.Tick(A::kHideTimer);
    EXPECT_EQ(a.Phase(), NotifierPhase::Hidden);
    EXPECT_FALSE(a.Busy());
    EXPECT_FALSE(a.Visible());
    EXPECT_EQ(a.Geometry(), PopupGeometry{});

    // Growing by a step that does not divide the extent overshoots the skin.
    NotifierAnimation c;
    c.SetSkinSize(kSkinW, 7);
    ASSERT_TRUE(c.Show(5, kScreen, kScreen, 20, 100, 10));  // 2 ticks of 3 px
    c.Tick(A::kShowTimer);
    c.Tick(A::kShowTimer);
    c.Tick(A::kShowTimer);
    EXPECT_EQ(c.Geometry().height, 9);
    c.Tick(A::kShowTimer);
    EXPECT_EQ(c.Phase(), NotifierPhase::Waiting);
}

TEST_F(NotifierTest, ShortShowTimeSlidesOutInOneTick) {
    ASSERT_TRUE(ShowAt(200000, 10, 4000, 5));
    a.Tick(A::kShowTimer);
    EXPECT_EQ(a.Geometry().height, kSkinH);
    a.Tick(A::kShowTimer);
    EXPECT_EQ(a.Phase(), NotifierPhase::Waiting);
    a.Tick(A::kStayTimer);
    a.Tick(A::kHideTimer);
    EXPECT_EQ(a.Geometry().height, 0);
    a.Tick(A::kHideTimer);
    EXPECT_EQ(a.Phase(), NotifierPhase::Hidden);
}

TEST_F(NotifierTest, SideEdgesSlideSideways) {
    ASSERT_TRUE(ShowAt(200000, 500, 4000, 200, {0, 0, 976, 768}));
    EXPECT_EQ(a.Edge(), TaskbarEdge::Right);
    EXPECT_EQ(a.Geometry(), (PopupGeometry{976, 768 - kSkinH, 0, kSkinH}));
    a.Tick(A::kShowTimer);
    EXPECT_EQ(a.Geometry(), (PopupGeometry{976 - 4, 768 - kSkinH, 4, kSkinH}));  // 220 / 50 = 4
}

TEST_F(NotifierTest, ThrottleAndBusyRule) {
    EXPECT_FALSE(ShowAt(1000));  // the tick count is still below the gap
    ASSERT_TRUE(ShowAt(130000));
    a.Tick(A::kShowTimer);
    EXPECT_FALSE(ShowAt(400000));  // on screen: not replaced, not queued
    RunTimer(A::kShowTimer);
    a.Tick(A::kStayTimer);
    RunTimer(A::kHideTimer);
    EXPECT_FALSE(ShowAt(200000));  // within the gap of the last accepted one
    // The tick count wraps: 0xFFFFF000 then 0x1000 is 8192 ms later.
    NotifierAnimation w;
    w.SetSkinSize(kSkinW, kSkinH);
    w.SetMinimumGap(120000);
    ASSERT_TRUE(w.Show(0xFFFFF000u, kScreen, kScreen, 500, 4000, 200));
    w.Tick(A::kShowTimer);
    while (w.Phase() != NotifierPhase::Hidden) {
        w.Tick(w.TimerState(A::kShowTimer).running ? A::kShowTimer
               : w.TimerState(A::kStayTimer).running ? A::kStayTimer : A::kHideTimer);
    }
    EXPECT_FALSE(w.Show(0x1000u, kScreen, kScreen, 500, 4000, 200));
    EXPECT_TRUE(w.Show(0xFFFFF000u + 120000u, kScreen, kScreen, 500, 4000, 200));
    // Without a skin there is nothing to show.
    NotifierAnimation none;
    EXPECT_FALSE(none.Show(500000, kScreen, kScreen, 500, 4000, 200));
}

TEST_F(NotifierTest, HoverPausesOnlyTheWait) {
    ASSERT_TRUE(ShowAt(200000));
    a.Tick(A::kShowTimer);
    a.Hover();  // appearing goes on
    EXPECT_TRUE(a.TimerState(A::kShowTimer).running);
    RunTimer(A::kShowTimer);
    EXPECT_EQ(a.Phase(), NotifierPhase::Waiting);
    a.Hover();
    EXPECT_FALSE(a.TimerState(A::kStayTimer).running);
    const unsigned starts = a.TimerState(A::kStayTimer).starts;
    a.Leave();
    EXPECT_TRUE(a.TimerState(A::kStayTimer).running);
    EXPECT_EQ(a.TimerState(A::kStayTimer).period, 4000);
    EXPECT_EQ(a.TimerState(A::kStayTimer).starts, starts + 1);  // the full stay time again
    a.Leave();  // a second leave changes nothing
    EXPECT_EQ(a.TimerState(A::kStayTimer).starts, starts + 1);
}

TEST_F(NotifierTest, CloseClickReversesAnAppearingPopup) {
    ASSERT_TRUE(ShowAt(200000));
    for (int i = 0; i < 10; ++i) a.Tick(A::kShowTimer);
    a.CloseClicked();
    EXPECT_FALSE(a.TimerState(A::kShowTimer).running);
    EXPECT_TRUE(a.TimerState(A::kHideTimer).running);
    EXPECT_EQ(a.Phase(), NotifierPhase::Disappearing);
    EXPECT_EQ(RunTimer(A::kHideTimer), 5);  // 20 px at 6 a tick: 4 shrinking ticks, then hidden
    EXPECT_EQ(a.Phase(), NotifierPhase::Hidden);
}

TEST_F(NotifierTest, LeaveJustBeforeTheHideLeavesNoTimerBehind) {
    a.SetMinimumGap(0);
    ASSERT_TRUE(ShowAt(200000));
    RunTimer(A::kShowTimer);
    a.Tick(A::kStayTimer);  // the stay time runs out; the hide timer starts
    a.Hover();
    a.Leave();              // still waiting: the stay timer starts again beside the hide timer
    RunTimer(A::kHideTimer);
    EXPECT_EQ(a.Phase(), NotifierPhase::Hidden);
    EXPECT_FALSE(a.TimerState(A::kStayTimer).running);
    // So the next popup's slide is not cut short by a stray stay timer.
    ASSERT_TRUE(ShowAt(200500));
    a.Tick(A::kShowTimer);
    EXPECT_FALSE(a.TimerState(A::kStayTimer).running);
}

TEST(OpaqueRunsTest, RunsBottomUpLeftToRight) {
    constexpr std::uint32_t K = 0xFF00FF, X = 0x123456;
    // Row stride 4, width 3: the fourth pixel of each row is padding and never read as pixel.
    const std::uint32_t px[] = {
        K, X, X, X,  //
        X, K, X, K,  //
    };
    const auto runs = OpaqueRuns(px, 3, 2, 4, K);
    const std::vector<PixelRun> expected{{0, 1, 1}, {2, 1, 1}, {1, 0, 2}};
    EXPECT_EQ(runs, expected);
    // Alpha is ignored; an all-key skin has no opaque part.
    const std::uint32_t keyed[] = {0xFFFF00FF, 0x00FF00FF};
    EXPECT_TRUE(OpaqueRuns(keyed, 2, 1, 2, K).empty());
    EXPECT_TRUE(OpaqueRuns(px, 3, 2, 2, K).empty());  // a stride shorter than a row is refused
}

TEST(CloseButtonTest, FramesAndInclusiveEdges) {
    EXPECT_EQ(CloseButtonFrame(false, true), 0);
    EXPECT_EQ(CloseButtonFrame(true, true), 1);
    EXPECT_EQ(CloseButtonFrame(true, false), 2);
    EXPECT_TRUE(CloseButtonContains(202, 46, 189, 33, 13, 13));
    EXPECT_FALSE(CloseButtonContains(203, 40, 189, 33, 13, 13));
    EXPECT_FALSE(CloseButtonContains(188, 40, 189, 33, 13, 13));
}

}  // namespace
}  // namespace fv::notify
