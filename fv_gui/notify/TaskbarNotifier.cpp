#include "fv_gui/notify/TaskbarNotifier.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QThread>

#include "fv_gui/controls/TextFit.h"
#include "fv_gui/res/Resources.h"
#include "fv_platform/TickCount.h"

namespace fv::notify {
namespace {

ScreenRect ToScreenRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

int AlignmentOf(unsigned format) {
    int flags = (format & DT_CENTER) ? Qt::AlignHCenter : (format & DT_RIGHT) ? Qt::AlignRight : Qt::AlignLeft;
    // Vertical placement applies to a single line only; wrapped text starts at the top.
    if (format & DT_SINGLELINE) {
        flags |= (format & DT_VCENTER) ? Qt::AlignVCenter : (format & DT_BOTTOM) ? Qt::AlignBottom : Qt::AlignTop;
        flags |= Qt::TextSingleLine;
    } else {
        flags |= Qt::AlignTop;
        if (format & DT_WORDBREAK) flags |= Qt::TextWordWrap;
    }
    return flags;
}

// The strip of close-button frames drawn for `ratio`, its top-left pixel's colour made transparent.
QImage CloseStrip(int bitmapId, qreal ratio) {
    const QPixmap strip = res::Bitmap(bitmapId, ratio);
    if (strip.isNull()) return {};
    return res::WithoutKeyColour(strip, strip.toImage().pixel(0, 0)).toImage();
}

QFont Styled(QFont font, int style) {
    font.setBold(style & kFontBold);
    font.setItalic(style & kFontItalic);
    font.setUnderline(style & kFontUnderline);
    return font;
}

}  // namespace

CTaskbarNotifier::CTaskbarNotifier() : QWidget(nullptr) {
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    for (int id = NotifierAnimation::kShowTimer; id <= NotifierAnimation::kHideTimer; ++id) {
        connect(&timers_[static_cast<std::size_t>(id)], &QTimer::timeout, this, [this, id] { AnimationTick(id); });
    }
    SetDefaultTextFont();
}

bool CTaskbarNotifier::Create(QWidget* owner) {
    owner_ = owner;
    // Keeps the popup's window flags; the owner only ties the popup's lifetime to its own.
    setParent(owner, windowFlags());
    return true;
}

bool CTaskbarNotifier::SetSkin(int bitmapId, int red, int green, int blue) {
    const auto unset = [](int c) { return static_cast<std::int16_t>(c) == kNoColour; };
    const bool shaped = !unset(red) && !unset(green) && !unset(blue);
    skin_ = res::Bitmap(bitmapId);
    skinId_ = bitmapId;
    skinKey_ = shaped ? std::optional(qRgb(red & 0xFF, green & 0xFF, blue & 0xFF)) : std::nullopt;
    RenderArt();
    if (skin_.isNull()) return false;
    animation_.SetSkinSize(skin_.width(), skin_.height());
    textRect_ = QRect(0, 0, skin_.width(), skin_.height());
    if (!shaped) {
        clearMask();
        return true;
    }
    const std::uint32_t key = (static_cast<std::uint32_t>(red & 0xFF) << 16) |
                              (static_cast<std::uint32_t>(green & 0xFF) << 8) | static_cast<std::uint32_t>(blue & 0xFF);
    // The shape comes from the skin's own pixels, so that it is the same on every screen.
    const QImage image = skin_.toImage().convertToFormat(QImage::Format_RGB32);
    QRegion region;
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(image.constBits());
    for (const PixelRun& run :
         OpaqueRuns(pixels, image.width(), image.height(), static_cast<int>(image.bytesPerLine() / 4), key))
        region += QRect(run.x, run.y, run.width, 1);
    setMask(region);
    update();
    return true;
}

bool CTaskbarNotifier::SetCloseButton(int bitmapId, int left, int top, int, int, int) {
    const QPixmap bitmap = res::Bitmap(bitmapId);
    closeButton_ = {};
    closeId_ = 0;
    if (bitmap.isNull()) return false;
    closeId_ = bitmapId;
    closeWidth_ = bitmap.width() / kCloseFrames;
    closeHeight_ = bitmap.height();
    closeLeft_ = left;
    closeTop_ = top;
    RenderArt();
    return true;
}

void CTaskbarNotifier::RenderArt() {
    artRatio_ = devicePixelRatioF();
    sharpSkin_ = {};
    if (!skin_.isNull() && artRatio_ > 1.0) {
        const QPixmap sharp = res::Bitmap(skinId_, artRatio_);
        sharpSkin_ = skinKey_ ? res::WithoutKeyColour(sharp, *skinKey_) : sharp;
    }
    if (closeId_ != 0) closeButton_ = CloseStrip(closeId_, artRatio_);
}

void CTaskbarNotifier::SetTextFont(const QString& face, int tenthsOfPoint, int normalStyle, int hoverStyle) {
    QFont font(face);
    if (tenthsOfPoint > 0) font.setPointSizeF(tenthsOfPoint / 10.0);
    normalFont_ = Styled(font, normalStyle);
    hoverFont_ = Styled(font, hoverStyle);
}

void CTaskbarNotifier::SetDefaultTextFont() {
    normalFont_ = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    hoverFont_ = normalFont_;
    hoverFont_.setUnderline(true);
}

void CTaskbarNotifier::SetTextColors(QRgb normal, QRgb hover) {
    normalColor_ = normal;
    hoverColor_ = hover;
    repaint();
}

void CTaskbarNotifier::Show(const QString& text, int showMs, int stayMs, int hideMs) {
    if (QThread::currentThread() == thread()) {
        ShowNow(text, showMs, stayMs, hideMs);
        return;
    }
    QMetaObject::invokeMethod(this, [this, text, showMs, stayMs, hideMs] { ShowNow(text, showMs, stayMs, hideMs); },
                              Qt::QueuedConnection);
}

void CTaskbarNotifier::ShowNow(const QString& text, int showMs, int stayMs, int hideMs) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    if (!animation_.Show(fv::TickCount(), ToScreenRect(screen->geometry()), ToScreenRect(screen->availableGeometry()),
                         showMs, stayMs, hideMs))
        return;
    text_ = text;
    Sync();
}

void CTaskbarNotifier::AnimationTick(int timerId) {
    animation_.Tick(timerId);
    Sync();
}

void CTaskbarNotifier::HoldAnimation() {
    for (QTimer& timer : timers_) timer.stop();
}

void CTaskbarNotifier::Sync() {
    for (int id = NotifierAnimation::kShowTimer; id <= NotifierAnimation::kHideTimer; ++id) {
        const auto& state = animation_.TimerState(id);
        QTimer& timer = timers_[static_cast<std::size_t>(id)];
        unsigned& seen = timerStarts_[static_cast<std::size_t>(id)];
        if (!state.running) timer.stop();
        else if (state.starts != seen || !timer.isActive()) timer.start(std::max(0, state.period));
        seen = state.starts;
    }
    const PopupGeometry& g = animation_.Geometry();
    // A window of no size cannot be shown; the popup appears with its first pixel row.
    if (animation_.Visible() && g.width > 0 && g.height > 0) {
        setGeometry(g.left, g.top, g.width, g.height);
        if (!isVisible()) show();
        raise();
    } else if (isVisible()) {
        hide();
    }
}

bool CTaskbarNotifier::OnCloseButton(QPoint pos) const {
    return !closeButton_.isNull() &&
           CloseButtonContains(pos.x(), pos.y(), closeLeft_, closeTop_, closeWidth_, closeHeight_);
}

void CTaskbarNotifier::paintEvent(QPaintEvent*) {
    // The popup may have moved to a screen of another scale since the art was drawn.
    if (devicePixelRatioF() != artRatio_) RenderArt();
    QPainter p(this);
    if (!skin_.isNull()) p.drawPixmap(0, 0, skin_, 0, 0, width(), height());
    // The shape is cut along whole pixels of the skin; where the sharper skin's edge leaves key
    // colour inside it, the skin's own pixel below shows instead.
    if (!sharpSkin_.isNull()) {
        p.drawPixmap(QPointF(0, 0), sharpSkin_, res::DevicePart(rect(), sharpSkin_.devicePixelRatio()));
    }
    if (!closeButton_.isNull()) {
        const int frame = CloseButtonFrame(closeHover_, pressed_);
        p.drawImage(QRectF(closeLeft_, closeTop_, closeWidth_, closeHeight_), closeButton_,
                    res::DevicePart(QRect(frame * closeWidth_, 0, closeWidth_, closeHeight_),
                                    closeButton_.devicePixelRatio()));
    }
    const bool hover = animation_.MouseOver();
    p.setFont(hover ? hoverFont_ : normalFont_);
    p.setPen(QColor::fromRgb(hover ? hoverColor_ : normalColor_));
    if (!(textFormat_ & DT_NOCLIP)) p.setClipRect(textRect_);
    QString text = text_;
    if ((textFormat_ & DT_END_ELLIPSIS) && !(textFormat_ & DT_WORDBREAK))
        text = QFontMetrics(p.font()).elidedText(text, Qt::ElideRight, textRect_.width());
    else if ((textFormat_ & DT_WORDBREAK) && !(textFormat_ & DT_NOCLIP))
        text = FitWrapped(text, QFontMetrics(p.font()), textRect_, AlignmentOf(textFormat_));
    p.drawText(textRect_, AlignmentOf(textFormat_), text);
}

void CTaskbarNotifier::mouseMoveEvent(QMouseEvent* e) {
    const bool on = OnCloseButton(e->position().toPoint());
    if (on != closeHover_) {
        closeHover_ = on;
        repaint();
    }
    const bool wasOver = animation_.MouseOver();
    animation_.Hover();
    if (!wasOver) update();
    Sync();
    QWidget::mouseMoveEvent(e);
}

void CTaskbarNotifier::enterEvent(QEnterEvent* e) {
    const bool wasOver = animation_.MouseOver();
    animation_.Hover();
    if (!wasOver) update();
    Sync();
    QWidget::enterEvent(e);
}

void CTaskbarNotifier::leaveEvent(QEvent* e) {
    if (animation_.MouseOver()) {
        animation_.Leave();
        update();
        Sync();
    }
    if (closeHover_) {
        closeHover_ = false;
        update();
    }
    QWidget::leaveEvent(e);
}

void CTaskbarNotifier::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        pressed_ = true;
        if (OnCloseButton(e->position().toPoint())) repaint();
    }
    QWidget::mousePressEvent(e);
}

void CTaskbarNotifier::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        pressed_ = false;
        if (OnCloseButton(e->position().toPoint())) {
            animation_.CloseClicked();
            Sync();
        }
        QMetaObject::invokeMethod(this, &CTaskbarNotifier::Clicked, Qt::QueuedConnection);
    }
    QWidget::mouseReleaseEvent(e);
}

}  // namespace fv::notify
