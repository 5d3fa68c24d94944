#include "fv_gui/logview/SnapGlue.h"

#include <QGuiApplication>
#include <QScreen>

namespace fv {

SnapRect ToSnapRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

SnapRect WidgetSnapWindow::Frame() const { return widget_ ? ToSnapRect(widget_->frameGeometry()) : SnapRect{}; }

bool WidgetSnapWindow::IsVisible() const { return widget_ && widget_->isVisible(); }

SnapRect ScreenSnapDesktop::WorkArea() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? ToSnapRect(screen->availableGeometry()) : SnapRect{};
}

void ScreenSnapDesktop::MoveWindows(const std::vector<struct SnapMove>& moves) {
    for (const auto& m : moves) {
        const auto* window = dynamic_cast<const WidgetSnapWindow*>(m.window);
        if (window != nullptr && window->Widget() != nullptr) window->Widget()->move(m.left, m.top);
    }
}

QPoint SnapMove(WindowSnapper& snapper, SnapWindow& self, QWidget* window, QPoint proposed) {
    const QRect frame = window->frameGeometry();
    SnapRect p{proposed.x(), proposed.y(), proposed.x() + frame.width(), proposed.y() + frame.height()};
    snapper.OnWindowPosChanging(&self, p);
    return {p.left, p.top};
}

}  // namespace fv
