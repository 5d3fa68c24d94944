#include "fv_gui/logging/WindowSnapper.h"

#include <algorithm>
#include <cstdlib>

namespace fv {
namespace {

bool Near(int value, int edge, int distance) {
    return edge - distance <= value && value <= edge + distance;
}

void MoveTo(SnapRect& r, int left, int top) { r.Offset(left - r.left, top - r.top); }

// Aligns the top or else the bottom of `w` with `r` when near, keeping the height.
void AlignVertically(SnapRect& w, const SnapRect& r, int d) {
    if (Near(w.top, r.top, d)) {
        MoveTo(w, w.left, r.top);
    } else if (Near(w.bottom, r.bottom, d)) {
        MoveTo(w, w.left, r.bottom - w.Height());
    }
}

void AlignHorizontally(SnapRect& w, const SnapRect& r, int d) {
    if (Near(w.left, r.left, d)) {
        MoveTo(w, r.left, w.top);
    } else if (Near(w.right, r.right, d)) {
        MoveTo(w, r.right - w.Width(), w.top);
    }
}

}  // namespace

bool WindowSnapper::Register(SnapWindow* window, bool isMain) {
    if (window == nullptr || Find(window) != nullptr || entries_.size() >= kMaxWindows) return false;
    entries_.push_back({window, isMain, true, 0});
    return true;
}

void WindowSnapper::Unregister(SnapWindow* window) {
    std::erase_if(entries_, [window](const Entry& e) { return e.window == window; });
    pending_.clear();
}

WindowSnapper::Entry* WindowSnapper::Find(const SnapWindow* window) {
    for (auto& e : entries_) {
        if (e.window == window) return &e;
    }
    return nullptr;
}

bool WindowSnapper::IsAttached(const SnapWindow* window) const {
    for (const auto& e : entries_) {
        if (e.window == window) return e.attached;
    }
    return false;
}

bool WindowSnapper::SnapToWindow(const SnapWindow* other, SnapRect& w) const {
    if (other == nullptr || !other->IsVisible()) return false;
    const SnapRect r = other->Frame();
    const int d = distance_;
    bool snapped = false;

    const bool overlapVertically = w.bottom > r.top && w.top < r.bottom;
    if (Near(w.left, r.right, d)) {
        if (overlapVertically) {
            MoveTo(w, r.right, w.top);
            snapped = true;
            AlignVertically(w, r, d);
        }
    } else if (Near(w.right, r.left, d) && overlapVertically) {
        MoveTo(w, r.left - w.Width(), w.top);
        snapped = true;
        AlignVertically(w, r, d);
    }

    const bool overlapHorizontally = w.right > r.left && w.left < r.right;
    if (Near(w.top, r.bottom, d)) {
        if (overlapHorizontally) {
            MoveTo(w, w.left, r.bottom);
            snapped = true;
            AlignHorizontally(w, r, d);
        }
    } else if (Near(w.bottom, r.top, d) && overlapHorizontally) {
        MoveTo(w, w.left, r.top - w.Height());
        snapped = true;
        AlignHorizontally(w, r, d);
    }
    return snapped;
}

bool WindowSnapper::SnapToWorkArea(SnapRect& w) const {
    const SnapRect a = desktop_.WorkArea();
    const int d = distance_;
    bool snapped = false;
    if (std::abs(w.left) <= a.left + d) {
        MoveTo(w, a.left, w.top);
        snapped = true;
    } else if (Near(w.right, a.right, d)) {
        MoveTo(w, a.right - w.Width(), w.top);
        snapped = true;
    }
    if (std::abs(w.top) <= a.top + d) {
        MoveTo(w, w.left, a.top);
        snapped = true;
    } else if (Near(w.bottom, a.bottom, d)) {
        MoveTo(w, w.left, a.bottom - w.Height());
        snapped = true;
    }
    return snapped;
}

void WindowSnapper::OnWindowPosChanging(SnapWindow* window, SnapRect& proposed) {
    const SnapRect current = window->Frame();
    if (proposed.left == current.left && proposed.top == current.top) return;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].window != window) continue;
        if (entries_[i].isMain) {
            MoveMain(i, proposed);
        } else {
            MoveOther(i, proposed);
        }
        return;
    }
}

void WindowSnapper::MoveMain(std::size_t main, SnapRect& p) {
    const SnapRect mainFrame = entries_[main].window->Frame();
    SnapRect group = mainFrame;
    bool anyAttached = false;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (e.isMain || !e.attached) continue;
        anyAttached = true;
        if (!e.window->IsVisible()) continue;
        const SnapRect f = e.window->Frame();
        group = {std::min(group.left, f.left), std::min(group.top, f.top),
                 std::max(group.right, f.right), std::max(group.bottom, f.bottom)};
    }
    const int offsetX = group.left - mainFrame.left;
    const int offsetY = group.top - mainFrame.top;

    std::vector<std::size_t> touched;
    if (anyAttached) {
        MoveTo(group, p.left + offsetX, p.top + offsetY);
        const SnapRect placed = group;
        if (!SnapToWorkArea(group)) {
            for (std::size_t i = 0; i < entries_.size(); ++i) {
                if (i == main) continue;
                if (SnapToWindow(entries_[i].window, group)) touched.push_back(i);
            }
        }
        p.Offset(group.left - placed.left, group.top - placed.top);

        std::vector<SnapMove> moves;
        const int dx = p.left - mainFrame.left;
        const int dy = p.top - mainFrame.top;
        for (const Entry& e : entries_) {
            if (e.isMain || !e.attached) continue;
            const SnapRect f = e.window->Frame();
            moves.push_back({e.window, f.left + dx, f.top + dy});
        }
        if (!moves.empty()) desktop_.MoveWindows(moves);
    } else {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (i == main) continue;
            if (SnapToWindow(entries_[i].window, p)) {
                touched.push_back(i);
                if (entries_[i].dockedTo != 0) touched.push_back(entries_[i].dockedTo);
            }
        }
        SnapToWorkArea(p);
    }
    pending_ = std::move(touched);
}

void WindowSnapper::MoveOther(std::size_t moving, SnapRect& p) {
    for (std::size_t j = 0; j < entries_.size(); ++j) {
        if (j == moving) continue;
        Entry& x = entries_[moving];
        const Entry& other = entries_[j];
        if (SnapToWindow(other.window, p)) {
            if (other.isMain || other.attached) x.attached = true;
            x.dockedTo = j;
        } else {
            if (other.isMain) {
                x.attached = false;
                for (Entry& e : entries_) {
                    if (e.dockedTo == moving) {
                        e.attached = false;
                        break;
                    }
                }
            }
            x.dockedTo = 0;
        }
    }
    if (!entries_[moving].attached) SnapToWorkArea(p);
}

void WindowSnapper::ApplyPendingAttach() {
    for (std::size_t i : pending_) {
        if (i < entries_.size()) entries_[i].attached = true;
    }
    pending_.clear();
}

}  // namespace fv
