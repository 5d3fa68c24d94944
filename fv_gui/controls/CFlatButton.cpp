#include "fv_gui/controls/CFlatButton.h"

#include <QMouseEvent>
#include <QPainter>

#include "fv_gui/controls/Draw3d.h"

namespace fv {
namespace {
constexpr int kFaceInset = 2;  // the border and bevel take two pixels on every side
}

CFlatButton::CFlatButton(QWidget* parent) : CFlatButton(QString(), parent) {}

CFlatButton::CFlatButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    // Moves arrive without a button held, so hovering is seen; the parent's background is
    // painted under the button before each drawing because the button is not opaque.
    setMouseTracking(true);
}

QRect CFlatButton::DrawBackground(QPainter& painter, QRect rect, bool pressed) const {
    const QColor shadow = palette().color(QPalette::Normal, QPalette::Dark);
    const QColor highlight = palette().color(QPalette::Normal, QPalette::Light);
    if (pressed) {
        painter.fillRect(rect, pressedFace_);
        Draw3dRect(painter, rect, shadow, highlight);
    } else if (hover_) {
        painter.fillRect(rect, hoverFace_);
        Draw3dRect(painter, rect, highlight, shadow);
    } else {
        painter.fillRect(rect, isEnabled() ? normalFace_ : disabledFace_);
        if (border_) {
            if (border3d_) {
                Draw3dRect(painter, rect, borderLight_, borderDark_);
            } else {
                DrawFrame(painter, rect, borderDark_);
            }
        }
    }
    rect.adjust(kFaceInset, kFaceInset, -kFaceInset, -kFaceInset);
    if (pressed) rect.translate(1, 1);
    return rect;
}

void CFlatButton::DrawText(QPainter& painter, const QRect& rect, const QString& text) const {
    const int flags = Qt::AlignCenter | Qt::TextShowMnemonic;
    if (isEnabled()) {
        painter.setPen(palette().color(QPalette::ButtonText));
        painter.drawText(rect, flags, text);
        return;
    }
    // Embossed: a highlight copy one pixel down and right under the shadow-coloured text.
    painter.setPen(palette().color(QPalette::Normal, QPalette::Light));
    painter.drawText(rect.translated(1, 1), flags, text);
    painter.setPen(palette().color(QPalette::Normal, QPalette::Dark));
    painter.drawText(rect, flags, text);
}

void CFlatButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    const QRect textRect = DrawBackground(painter, rect(), isDown());
    if (!text().isEmpty()) DrawText(painter, textRect, text());
}

void CFlatButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    if (rect().contains(event->position().toPoint())) {
        if (!hover_) {
            hover_ = true;
            update();
        }
    } else {
        hover_ = false;
    }
}

void CFlatButton::leaveEvent(QEvent* event) {
    hover_ = false;
    update();
    QPushButton::leaveEvent(event);
}

}  // namespace fv
