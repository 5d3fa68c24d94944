// The window snapper over Qt: top-level widgets as snap windows, the primary screen's work area
// as the desktop, and the step every dragged window's proposed position goes through.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <vector>

#include "fv_gui/logging/WindowSnapper.h"

namespace fv {

class WidgetSnapWindow : public SnapWindow {
public:
    explicit WidgetSnapWindow(QWidget* w) : widget_(w) {}
    SnapRect Frame() const override;  // the frame in screen coordinates; empty once the widget is gone
    bool IsVisible() const override;
    QWidget* Widget() const { return widget_; }

private:
    QPointer<QWidget> widget_;
};

// Moves only windows that are WidgetSnapWindows; others are left where they are.
class ScreenSnapDesktop : public SnapDesktop {
public:
    SnapRect WorkArea() const override;
    void MoveWindows(const std::vector<struct SnapMove>& moves) override;
};

SnapRect ToSnapRect(const QRect& r);

// Runs the proposed top-left of `window` (registered with `snapper` as `self`) through the
// snapper and returns where the window goes.
QPoint SnapMove(WindowSnapper& snapper, SnapWindow& self, QWidget* window, QPoint proposed);

}  // namespace fv
