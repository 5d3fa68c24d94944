// Magnetic log windows: a window dragged near another window or the work area's edge snaps to
// it, and the log windows attached below the main window move with it. Pure geometry; the
// windows and the desktop are reached through the two small interfaces below.
#pragma once

#include <cstddef>
#include <vector>

namespace fv {

struct SnapRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    void Offset(int dx, int dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    friend bool operator==(const SnapRect&, const SnapRect&) = default;
};

// One window as the snapper sees it.
class SnapWindow {
public:
    virtual ~SnapWindow() = default;
    virtual SnapRect Frame() const = 0;  // screen coordinates
    virtual bool IsVisible() const = 0;
};

struct SnapMove {
    SnapWindow* window;
    int left;
    int top;
};

// The screen: its work area (without panels), and moves of several windows as one batch that
// neither resizes, activates nor raises them.
class SnapDesktop {
public:
    virtual ~SnapDesktop() = default;
    virtual SnapRect WorkArea() const = 0;
    virtual void MoveWindows(const std::vector<SnapMove>& moves) = 0;
};

class WindowSnapper {
public:
    static constexpr int kInitialSnapDistance = 5;
    static constexpr std::size_t kMaxWindows = 10;

    explicit WindowSnapper(SnapDesktop& desktop) : desktop_(desktop) {}

    void SetSnapDistance(int pixels) { distance_ = pixels; }
    int SnapDistance() const { return distance_; }

    // Adds the window (attached, docked to nothing) unless it is already registered or the
    // snapper is full; false when it was not added.
    bool Register(SnapWindow* window, bool isMain);
    void Unregister(SnapWindow* window);

    // Adjusts the proposed frame of `window`, which is being moved.
    void OnWindowPosChanging(SnapWindow* window, SnapRect& proposed);

    // Marks attached every window the main window's group touched during its last move.
    void ApplyPendingAttach();

    bool IsAttached(const SnapWindow* window) const;

    // The two snapping rules, on a proposed frame; true when an edge snapped.
    bool SnapToWindow(const SnapWindow* other, SnapRect& proposed) const;
    bool SnapToWorkArea(SnapRect& proposed) const;

private:
    struct Entry {
        SnapWindow* window;
        bool isMain;
        bool attached;
        std::size_t dockedTo;
    };

    Entry* Find(const SnapWindow* window);
    void MoveMain(std::size_t main, SnapRect& proposed);
    void MoveOther(std::size_t moving, SnapRect& proposed);

    SnapDesktop& desktop_;
    int distance_ = kInitialSnapDistance;
    std::vector<Entry> entries_;
    std::vector<std::size_t> pending_;
};

}  // namespace fv
