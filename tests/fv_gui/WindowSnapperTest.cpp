#include "fv_gui/logging/WindowSnapper.h"

#include <gtest/gtest.h>

namespace {

using fv::SnapRect;

struct FakeWindow : fv::SnapWindow {
    SnapRect frame;
    bool visible = true;
    explicit FakeWindow(SnapRect r) : frame(r) {}
    SnapRect Frame() const override { return frame; }
    bool IsVisible() const override { return visible; }
};

struct FakeDesktop : fv::SnapDesktop {
    SnapRect workArea{0, 0, 1024, 768};
    int batches = 0;
    SnapRect WorkArea() const override { return workArea; }
    void MoveWindows(const std::vector<fv::SnapMove>& moves) override {
        ++batches;
        for (const auto& m : moves) {
            auto* w = static_cast<FakeWindow*>(m.window);
            w->frame.Offset(m.left - w->frame.left, m.top - w->frame.top);
        }
    }
};

// Drives a drag as the windows do: propose, let the snapper adjust, then take the position.
void Drag(fv::WindowSnapper& snapper, FakeWindow& w, int left, int top) {
    SnapRect p = w.frame;
    p.Offset(left - p.left, top - p.top);
    snapper.OnWindowPosChanging(&w, p);
    w.frame = p;
}

class WindowSnapperTest : public testing::Test {
protected:
    FakeDesktop desktop;
    fv::WindowSnapper snapper{desktop};
    FakeWindow main{{200, 100, 500, 300}};
    FakeWindow blocked{{200, 300, 500, 400}};

    void SetUp() override {
        snapper.SetSnapDistance(8);
        snapper.Register(&main, true);
        snapper.Register(&blocked, false);
    }
};

TEST_F(WindowSnapperTest, SnapsWithinTheDistanceOnly) {
    SnapRect w{206, 306, 506, 406};  // top 6 below the main window's bottom, overlapping it
    EXPECT_TRUE(snapper.SnapToWindow(&main, w));
    EXPECT_EQ(w, (SnapRect{200, 300, 500, 400}));  // and the left edges aligned

    SnapRect far{210, 309, 510, 409};
    EXPECT_FALSE(snapper.SnapToWindow(&main, far));
    EXPECT_EQ(far, (SnapRect{210, 309, 510, 409}));

    main.visible = false;
    SnapRect hidden{210, 306, 510, 406};
    EXPECT_FALSE(snapper.SnapToWindow(&main, hidden));
}

TEST_F(WindowSnapperTest, WorkAreaEdgesAttractFromBothSides) {
    for (int x : {3, -3}) {
        SnapRect w{x, 300, x + 100, 400};
        EXPECT_TRUE(snapper.SnapToWorkArea(w)) << x;
        EXPECT_EQ(w.left, 0);
        EXPECT_EQ(w.Width(), 100);
    }
    SnapRect bottomRight{920, 660, 1020, 764};
    EXPECT_TRUE(snapper.SnapToWorkArea(bottomRight));
    EXPECT_EQ(bottomRight, (SnapRect{924, 664, 1024, 768}));
    SnapRect middle{400, 300, 500, 400};
    EXPECT_FALSE(snapper.SnapToWorkArea(middle));
}

TEST_F(WindowSnapperTest, AttachedLogMovesWithTheMainWindowUntilDraggedAway) {
    Drag(snapper, main, 250, 150);
    EXPECT_EQ(main.frame, (SnapRect{250, 150, 550, 350}));
    EXPECT_EQ(blocked.frame, (SnapRect{250, 350, 550, 450}));
    EXPECT_EQ(desktop.batches, 1);

    Drag(snapper, blocked, 600, 500);  // away from the main window and from every edge
    EXPECT_FALSE(snapper.IsAttached(&blocked));
    Drag(snapper, main, 300, 150);
    EXPECT_EQ(blocked.frame, (SnapRect{600, 500, 900, 600}));

    Drag(snapper, blocked, 304, 354);  // back within reach of the main window's bottom
    EXPECT_TRUE(snapper.IsAttached(&blocked));
    EXPECT_EQ(blocked.frame, (SnapRect{300, 350, 600, 450}));
}

TEST_F(WindowSnapperTest, WindowTouchedByTheMainWindowAttachesWhenTheDragEnds) {
    Drag(snapper, blocked, 600, 500);
    ASSERT_FALSE(snapper.IsAttached(&blocked));
    // The main window alone now; its bottom comes within reach of the log's top.
    Drag(snapper, main, 600, 295);
    EXPECT_EQ(main.frame, (SnapRect{600, 300, 900, 500}));
    EXPECT_FALSE(snapper.IsAttached(&blocked));
    snapper.ApplyPendingAttach();
    EXPECT_TRUE(snapper.IsAttached(&blocked));
}

TEST_F(WindowSnapperTest, AMoveThatDoesNotMoveAndUnknownWindowsAreIgnored) {
    SnapRect same = main.frame;
    snapper.OnWindowPosChanging(&main, same);
    EXPECT_EQ(desktop.batches, 0);
    FakeWindow stranger{{3, 3, 50, 50}};
    SnapRect p{2, 2, 49, 49};
    snapper.OnWindowPosChanging(&stranger, p);
    EXPECT_EQ(p, (SnapRect{2, 2, 49, 49}));
    EXPECT_FALSE(snapper.Register(&main, false));
}

}  // namespace
