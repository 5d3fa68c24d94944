// A horizontal slider drawn from two bitmaps: a channel and a thumb.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <cstdint>

#include "fv_gui/controls/SliderMath.h"

namespace fv {

class CBitmapSlider : public QWidget {
    Q_OBJECT

public:
    // Transparent colour meaning "the colour of the bitmap's pixel at (pixel x, pixel y)";
    // other values are 0x00BBGGRR.
    static constexpr std::uint32_t kColourOfPixel = 0xFF000000;

    explicit CBitmapSlider(QWidget* parent = nullptr);

    // Loads the artwork; false when either id has no image (the slider then draws nothing).
    bool SetBitmaps(int channelId, int thumbId, bool transparent, std::uint32_t transparentColour,
                    int pixelX, int pixelY);
    void SetRange(int min, int max, bool redraw);
    void SetPageSize(int step) { page_ = step; }
    void SetPos(int position);
    [[nodiscard]] int GetPos() const { return position_; }

    QSize sizeHint() const override;

signals:
    void moving(int position);  // a drag moved the position
    void moved(int position);   // a drag ended, or a key changed the position

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    [[nodiscard]] SliderTrack Track() const;
    // Draws the channel and thumb for the screen's pixel ratio.
    void RenderArt();

    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    int page_ = 10;
    struct Art {
        int channelId = 0;
        int thumbId = 0;
        bool transparent = false;
        std::uint32_t colour = 0;
        int pixelX = 0;
        int pixelY = 0;
    } art_;
    qreal artRatio_ = 1.0;
    QPixmap channel_;  // drawn for the screen; sizes below are in window pixels
    QPixmap thumb_;
    QSize channelSize_;
    int thumbWidth_ = 0;
    int thumbHeight_ = 0;
    int marginLeft_ = 3;   // keeps the thumb over the channel's groove
    int marginRight_ = 3;
    bool dragging_ = false;
    int grabOffset_ = 0;
    bool focus_ = false;
};

}  // namespace fv
