#include "fv_gui/controls/CFlatComboBox.h"

#include <QApplication>
#include <QCompleter>
#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>

#include "fv_gui/controls/Draw3d.h"

namespace fv {
CFlatComboBox::CFlatComboBox(QWidget* parent) : QComboBox(parent) {
    dropButtonWidth_ = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    ReloadSystemColours();
    face_ = QColor(220, 220, 220);
    ApplyColours();
    setMouseTracking(true);
    look_ = {kFlat, face_, face_};
}

void CFlatComboBox::ReloadSystemColours() {
    const QPalette system = QApplication::palette(this);
    highlight_ = system.color(QPalette::Light);
    shadow_ = system.color(QPalette::Dark);
    face_ = system.color(QPalette::Button);
}

void CFlatComboBox::ApplyColours() {
    // Black text on the light background, in the box and in its list.
    QPalette colours = palette();
    colours.setColor(QPalette::Text, Qt::black);
    colours.setColor(QPalette::ButtonText, Qt::black);
    colours.setColor(QPalette::Base, background_);
    colours.setColor(QPalette::Button, background_);
    setPalette(colours);
}

void CFlatComboBox::SetAutoComplete(bool on) {
    autoComplete_ = on;
    if (!isEditable()) return;
    if (!on) {
        setCompleter(nullptr);
        return;
    }
    auto* completer = new QCompleter(model(), this);
    completer->setCompletionMode(QCompleter::InlineCompletion);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    setCompleter(completer);
}

void CFlatComboBox::DrawCombo(int state, const QColor& topLeft, const QColor& bottomRight) {
    look_ = {state, topLeft, bottomRight};
    update();
}

void CFlatComboBox::PaintLook(QPainter& painter) const {
    QRect r = rect();
    Draw3dRect(painter, r, look_.topLeft, look_.bottomRight);
    r.adjust(1, 1, -1, -1);
    DrawFrame(painter, r, isEnabled() ? face_ : highlight_);
    r.adjust(1, 1, -1, -1);
    QRect button(r.right() + 1 - dropButtonWidth_, r.top(), dropButtonWidth_, r.height());
    DrawFrame(painter, button, face_);
    button.adjust(1, 1, -1, -1);
    DrawFrame(painter, button, face_);
    if (!isEnabled()) return;
    switch (look_.state) {
        case kFlat: DrawFrame(painter, button, highlight_); break;
        case kRaised: Draw3dRect(painter, button, highlight_, shadow_); break;
        case kPressed: Draw3dRect(painter, button.translated(1, 1), shadow_, highlight_); break;
        default: break;
    }
}

void CFlatComboBox::paintEvent(QPaintEvent* event) {
    QComboBox::paintEvent(event);
    if (look_.state != kPressed) {
        if (CursorOver() || hasFocus()) {
            look_ = {kRaised, shadow_, highlight_};
        } else {
            look_ = {kFlat, face_, face_};
        }
    }
    QPainter painter(this);
    PaintLook(painter);
}

bool CFlatComboBox::CursorOver() const {
    return rect().contains(mapFromGlobal(QCursor::pos()));
}

// The border follows the mouse through enter and leave: raised while the mouse is over the
// box (or it has the focus), pressed while the left button is down on it, flat once it has
// neither the mouse nor the focus.
void CFlatComboBox::Hover() {
    if (QApplication::mouseButtons() & Qt::LeftButton) {
        if (hot_) {
            DrawPressed();
            hot_ = false;
        }
    } else if (!hot_) {
        hot_ = true;
        DrawRaised();
    }
}

void CFlatComboBox::enterEvent(QEnterEvent* event) {
    Hover();
    QComboBox::enterEvent(event);
}

void CFlatComboBox::leaveEvent(QEvent* event) {
    if (!focus_ && hot_) DrawFlat();
    if (!focus_) hot_ = false;
    QComboBox::leaveEvent(event);
}

void CFlatComboBox::mouseMoveEvent(QMouseEvent* event) {
    // A move can come without an enter first (the box appeared under a resting mouse).
    if (CursorOver()) Hover();
    QComboBox::mouseMoveEvent(event);
}

void CFlatComboBox::mousePressEvent(QMouseEvent* event) {
    buttonDown_ = true;
    if (event->button() == Qt::LeftButton && hot_) {
        DrawPressed();
        hot_ = false;
    }
    QComboBox::mousePressEvent(event);
}

void CFlatComboBox::mouseReleaseEvent(QMouseEvent* event) {
    buttonDown_ = false;
    if (look_.state == kPressed) look_.state = kRaised;
    update();
    QComboBox::mouseReleaseEvent(event);
}

void CFlatComboBox::focusInEvent(QFocusEvent* event) {
    focus_ = true;
    DrawRaised();
    QComboBox::focusInEvent(event);
}

void CFlatComboBox::focusOutEvent(QFocusEvent* event) {
    focus_ = false;
    // The mouse may have left while the focus kept the border up.
    hot_ = CursorOver();
    if (hot_) DrawRaised();
    else DrawFlat();
    QComboBox::focusOutEvent(event);
}

bool CFlatComboBox::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ApplicationPaletteChange:
            ReloadSystemColours();
            update();
            break;
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress: {
            // Alt with a character is swallowed: no mnemonic of the dialog fires from here.
            auto* key = static_cast<QKeyEvent*>(event);
            if ((key->modifiers() & Qt::AltModifier) && !key->text().isEmpty()) {
                event->accept();
                return true;
            }
            break;
        }
        default: break;
    }
    return QComboBox::event(event);
}

}  // namespace fv
