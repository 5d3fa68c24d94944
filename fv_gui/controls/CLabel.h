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

    [[nodiscard]] QColor TextColor() const { return textColour_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Redraw();

    QColor textColour_;
    QColor background_{230, 230, 230};
};

}  // namespace fv
