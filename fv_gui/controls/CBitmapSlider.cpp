#include "fv_gui/controls/CBitmapSlider.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <optional>
#include <utility>

#include "fv_gui/res/Resources.h"

namespace fv {
namespace {

// The bitmap drawn for `ratio` through its mask. A pixel reference names a pixel of the bitmap at
// its own size; one outside it leaves the bitmap opaque.
QPixmap Masked(int id, qreal ratio, std::uint32_t colour, int pixelX, int pixelY) {
    const QPixmap bitmap = res::Bitmap(id, ratio);
    if (bitmap.isNull()) return bitmap;
    if (colour != CBitmapSlider::kColourOfPixel) {
        return res::WithoutKeyColour(bitmap,
                                     qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF));
    }
    const QImage own = res::Bitmap(id).toImage();
    if (!own.valid(pixelX, pixelY)) return bitmap;
    return res::WithoutKeyColour(bitmap, own.pixel(pixelX, pixelY));
}

std::optional<SliderKey> KeyOf(int key) {
    switch (key) {
        case Qt::Key_PageUp: return SliderKey::PageUp;
        case Qt::Key_PageDown: return SliderKey::PageDown;
        case Qt::Key_End: return SliderKey::End;
        case Qt::Key_Home: return SliderKey::Home;
        case Qt::Key_Right: return SliderKey::Right;
        case Qt::Key_Down: return SliderKey::Down;
        case Qt::Key_Left: return SliderKey::Left;
        case Qt::Key_Up: return SliderKey::Up;
        default: return std::nullopt;
    }
}

}  // namespace

CBitmapSlider::CBitmapSlider(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

bool CBitmapSlider::SetBitmaps(int channelId, int thumbId, bool transparent,
                               std::uint32_t transparentColour, int pixelX, int pixelY) {
    art_ = {channelId, thumbId, transparent, transparentColour, pixelX, pixelY};
    RenderArt();
    updateGeometry();
    update();
    return !channel_.isNull() && !thumb_.isNull();
}

void CBitmapSlider::RenderArt() {
    artRatio_ = devicePixelRatioF();
    const auto draw = [this](int id) {
        return art_.transparent ? Masked(id, artRatio_, art_.colour, art_.pixelX, art_.pixelY)
                                : res::Bitmap(id, artRatio_);
    };
    channel_ = draw(art_.channelId);
    thumb_ = draw(art_.thumbId);
    channelSize_ = res::LogicalSize(channel_);
    thumbWidth_ = res::LogicalSize(thumb_).width();
    thumbHeight_ = res::LogicalSize(thumb_).height();
}

void CBitmapSlider::SetRange(int min, int max, bool redraw) {
    if (min > max) std::swap(min, max);
    min_ = min;
    max_ = max;
    position_ = ClampPosition(Track(), position_);
    if (redraw) update();
}

void CBitmapSlider::SetPos(int position) {
    position_ = ClampPosition(Track(), position);
    update();
}

SliderTrack CBitmapSlider::Track() const {
    return {min_, max_, width(), marginLeft_, marginRight_, thumbWidth_};
}

QSize CBitmapSlider::sizeHint() const {
    return {std::max(channelSize_.width(), thumbWidth_ + marginLeft_ + marginRight_),
            std::max(channelSize_.height(), thumbHeight_)};
}

void CBitmapSlider::paintEvent(QPaintEvent*) {
    // The slider may have moved to a screen of another scale since the art was drawn.
    if (devicePixelRatioF() != artRatio_) RenderArt();
    // Widgets are double-buffered: the channel and thumb reach the screen in one step.
    QPainter painter(this);
    painter.drawPixmap(0, (height() - channelSize_.height()) / 2, channel_);
    const int centre = PositionToPixel(Track(), position_);
    painter.drawPixmap(centre - thumbWidth_ / 2, (height() - thumbHeight_) / 2, thumb_);
    if (focus_) {
        painter.setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CBitmapSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // Qt grabs the mouse for the widget under a press until its release.
    setFocus(Qt::MouseFocusReason);
    dragging_ = true;
    const int x = event->position().toPoint().x();
    grabOffset_ = GrabOffset(Track(), position_, x);
    mouseMoveEvent(event);
    update();
}

void CBitmapSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    const SliderTrack track = Track();
    const int pixel = DragPixel(track, event->position().toPoint().x(), grabOffset_);
    if (pixel == PositionToPixel(track, position_)) return;
    SetPos(PixelToPosition(track, pixel));
    emit moving(position_);
}

void CBitmapSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    update();
    emit moved(position_);
}

void CBitmapSlider::keyPressEvent(QKeyEvent* event) {
    const std::optional<SliderKey> key = KeyOf(event->key());
    if (!key) return QWidget::keyPressEvent(event);
    SetPos(PositionAfterKey(Track(), position_, page_, *key));
    emit moved(position_);
}

void CBitmapSlider::focusInEvent(QFocusEvent* event) {
    focus_ = true;
    update();
    QWidget::focusInEvent(event);
}

void CBitmapSlider::focusOutEvent(QFocusEvent* event) {
    focus_ = false;
    update();
    QWidget::focusOutEvent(event);
}

}  // namespace fv
