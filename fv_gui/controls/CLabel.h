// A static text with its own colour, weight and background, redrawn together with the parent's
// area under it so that it stays clean on painted backgrounds.
#pragma once

#include <QColor>
#include <QLabel>

namespace fv {

class CLabel : public QLabel {
    Q_OBJECT

public:
    explicit CLabel(QWidget* parent = nullptr);
    explicit CLabel(const QString& text, QWidget* parent = nullptr);

    void SetText(const QString& text);
    void SetTextColor(const QColor& colour);
    void SetFontBold(bool bold);
    // For values that must stay whole (the counters): a text wider than the label is drawn in a
    // smaller face, down to `smallestPixels`, and past that with an ellipsis in its middle.
    void SetShrinkToFit(int smallestPixels);

    [[nodiscard]] QColor TextColor() const { return textColour_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Redraw();

    int smallestPixels_ = 0;  // 0: drawn as it is, clipped at the edge
    QColor textColour_;
    QColor background_{230, 230, 230};
};

}  // namespace fv
