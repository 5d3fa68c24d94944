#include "fv_gui/controls/CLabel.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace fv {

CLabel::CLabel(QWidget* parent) : CLabel(QString(), parent) {}

CLabel::CLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    textColour_ = QApplication::palette(this).color(QPalette::WindowText);
}

void CLabel::SetText(const QString& text) {
    setText(text);
    Redraw();
}

void CLabel::SetTextColor(const QColor& colour) {
    textColour_ = colour;
    Redraw();
}

void CLabel::SetFontBold(bool bold) {
    QFont f = font();
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    setFont(f);
    Redraw();
}

void CLabel::Redraw() {
    repaint();
    if (QWidget* parent = parentWidget()) parent->repaint(geometry());
}

void CLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    painter.setPen(textColour_);
    painter.setFont(font());
    const int wrap = wordWrap() ? Qt::TextWordWrap : 0;
    painter.drawText(contentsRect().adjusted(margin(), margin(), -margin(), -margin()),
                     static_cast<int>(alignment()) | wrap, text());
}

void CLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange) {
        background_ = QApplication::palette(this).color(QPalette::Button);
        update();
    }
    QLabel::changeEvent(event);
}

}  // namespace fv
