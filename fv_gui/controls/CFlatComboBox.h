// A combo box with a flat border that rises while the mouse is over it or it has the focus.
#pragma once

#include <QColor>
#include <QComboBox>

namespace fv {

class CFlatComboBox : public QComboBox {
    Q_OBJECT

public:
    enum DrawState { kFlat = 1, kRaised = 2, kPressed = 3 };

    explicit CFlatComboBox(QWidget* parent = nullptr);

    // Draws the border in a state; the bevel's outer edge in the two colours.
    void DrawCombo(int state, const QColor& topLeft, const QColor& bottomRight);
    // Editable combos only: typing selects the first item that starts with the text and
    // highlights the completed part.
    void SetAutoComplete(bool on);

    [[nodiscard]] int LastDrawState() const { return look_.state; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Look {
        int state = kFlat;
        QColor topLeft;
        QColor bottomRight;
    };

    void ReloadSystemColours();
    void ApplyColours();
    void Hover();
    [[nodiscard]] bool CursorOver() const;
    void DrawRaised() { DrawCombo(kRaised, shadow_, highlight_); }
    void DrawFlat() { DrawCombo(kFlat, face_, face_); }
    void DrawPressed() { DrawCombo(kPressed, shadow_, highlight_); }
    void PaintLook(QPainter& painter) const;

    int dropButtonWidth_ = 0;
    bool buttonDown_ = false;
    bool hot_ = false;
    bool focus_ = false;
    bool autoComplete_ = false;
    QColor highlight_;
    QColor shadow_;
    QColor face_{220, 220, 220};
    QColor background_{240, 240, 240};
    Look look_;
};

}  // namespace fv
