// A push button drawn flat: a plain face with a thin border, lit while the mouse is over it.
#pragma once

#include <QColor>
#include <QPushButton>

namespace fv {

class CFlatButton : public QPushButton {
    Q_OBJECT

public:
    explicit CFlatButton(QWidget* parent = nullptr);
    explicit CFlatButton(const QString& text, QWidget* parent = nullptr);

    [[nodiscard]] bool Hovering() const { return hover_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

    // The rectangle left for the text.
    QRect DrawBackground(QPainter& painter, QRect rect, bool pressed) const;
    void DrawText(QPainter& painter, const QRect& rect, const QString& text) const;

private:
    bool hover_ = false;
    QColor hoverFace_{250, 250, 250};
    QColor normalFace_{230, 230, 230};
    QColor borderLight_{180, 180, 180};
    QColor borderDark_{200, 200, 200};
    QColor pressedFace_{236, 236, 236};
    QColor disabledFace_{222, 222, 222};
    bool border_ = true;
    bool border3d_ = false;
};

}  // namespace fv
