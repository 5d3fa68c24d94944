// The popup that slides out of the panel when a packet is blocked: shaped by its skin bitmap,
// with a three-state close button and one text; it never takes the focus.
#pragma once

#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>

#include "fv_gui/notify/NotifierAnimation.h"

namespace fv::notify {

// Text drawing flags.
inline constexpr unsigned DT_CENTER = 0x0001;
inline constexpr unsigned DT_RIGHT = 0x0002;
inline constexpr unsigned DT_VCENTER = 0x0004;
inline constexpr unsigned DT_BOTTOM = 0x0008;
inline constexpr unsigned DT_WORDBREAK = 0x0010;
inline constexpr unsigned DT_SINGLELINE = 0x0020;
inline constexpr unsigned DT_NOCLIP = 0x0100;
inline constexpr unsigned DT_END_ELLIPSIS = 0x8000;

// Font style bits of SetTextFont.
inline constexpr int kFontBold = 1;
inline constexpr int kFontItalic = 2;
inline constexpr int kFontUnderline = 4;

class CTaskbarNotifier : public QWidget {
    Q_OBJECT
public:
    static constexpr QRgb kDefaultNormalColor = 0xFF8592B5;  // RGB(133,146,181)
    static constexpr QRgb kDefaultHoverColor = 0xFF0A246A;   // RGB(10,36,106)
    static constexpr unsigned kDefaultTextFormat = DT_CENTER | DT_VCENTER | DT_WORDBREAK | DT_END_ELLIPSIS;
    static constexpr int kNoColour = -1;  // a colour argument that leaves the popup rectangular
    static constexpr int kCloseFrames = 3;

    CTaskbarNotifier();

    // Makes `owner` the window the popup belongs to (it receives Clicked).
    bool Create(QWidget* owner);
    [[nodiscard]] bool SetSkin(int bitmapId, int red, int green, int blue);
    [[nodiscard]] bool SetCloseButton(int bitmapId, int left, int top, int, int, int);
    void SetTextFont(const QString& face, int tenthsOfPoint, int normalStyle, int hoverStyle);
    void SetDefaultTextFont();
    void SetTextColors(QRgb normal, QRgb hover);
    void SetTextRect(const QRect& rect) { textRect_ = rect; }
    void SetTextFormat(unsigned format) { textFormat_ = format; }
    void SetMinimumGap(std::uint32_t ms) { animation_.SetMinimumGap(ms); }

    // Any thread; ignored while a popup is on screen or within the minimum gap of the last one.
    void Show(const QString& text, int showMs, int stayMs, int hideMs);

    const NotifierAnimation& Animation() const { return animation_; }
    const QString& Text() const { return text_; }
    QSize SkinSize() const { return skin_.size(); }

signals:
    // A left-button release anywhere on the popup.
    void Clicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;

    // One tick of an animation timer.
    void AnimationTick(int timerId);
    // Stops the animation where it is (the popup stays as it stands).
    void HoldAnimation();

private:
    void ShowNow(const QString& text, int showMs, int stayMs, int hideMs);
    void Sync();
    bool OnCloseButton(QPoint pos) const;
    // Draws the skin and the close button for the screen's pixel ratio.
    void RenderArt();

    QWidget* owner_ = nullptr;
    QFont normalFont_, hoverFont_;
    QRgb normalColor_ = kDefaultNormalColor, hoverColor_ = kDefaultHoverColor;
    QPixmap skin_;       // at its own size: the shape and the popup's size come from it
    int skinId_ = 0;
    std::optional<QRgb> skinKey_;
    QPixmap sharpSkin_;  // on a scaled screen: drawn for it, key colour made transparent
    qreal artRatio_ = 1.0;
    int closeId_ = 0;
    QImage closeButton_;  // drawn for the screen, key colour made transparent
    int closeWidth_ = 0, closeHeight_ = 0, closeLeft_ = 0, closeTop_ = 0;  // one frame, in window pixels
    QString text_;
    QRect textRect_;
    unsigned textFormat_ = kDefaultTextFormat;
    bool closeHover_ = false, pressed_ = false;
    NotifierAnimation animation_;
    std::array<QTimer, 4> timers_;
    std::array<unsigned, 4> timerStarts_{};
};

}  // namespace fv::notify
