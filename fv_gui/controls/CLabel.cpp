#include "fv_gui/controls/CLabel.h"

#include <QApplication>
#include <QEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

#include "fv_gui/controls/TextFit.h"

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

void CLabel::SetShrinkToFit(int smallestPixels) {
    smallestPixels_ = smallestPixels;
    update();
}

void CLabel::Redraw() {
    repaint();
    if (QWidget* parent = parentWidget()) parent->repaint(geometry());
}

void CLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    painter.setPen(textColour_);
    const QRect box = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    QFont face = font();
    QString shown = text();
    if (smallestPixels_ > 0 && !wordWrap()) {
        const auto widthAt = [&](int pixels) {
            QFont f = face;
            f.setPixelSize(pixels);
            return QFontMetrics(f).horizontalAdvance(shown);
        };
        const int largest = QFontInfo(face).pixelSize();
        face.setPixelSize(FittingPixelSize(largest, std::min(smallestPixels_, largest), box.width(), widthAt));
        shown = QFontMetrics(face).elidedText(shown, Qt::ElideMiddle, box.width());
    }
    painter.setFont(face);
    const int wrap = wordWrap() ? Qt::TextWordWrap : 0;
    painter.drawText(box, static_cast<int>(alignment()) | wrap, shown);
}

void CLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange) {
        background_ = QApplication::palette(this).color(QPalette::Button);
        update();
    }
    QLabel::changeEvent(event);
}

}  // namespace fv
