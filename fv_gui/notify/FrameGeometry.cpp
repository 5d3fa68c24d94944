#include "fv_gui/notify/FrameGeometry.h"

#include <algorithm>
#include <cmath>

#include "fv_gui/res/ResourceIds.h"

namespace fv::notify {
namespace {

constexpr int kMaximizeRight = 44;     // maximize slot starts this far from the right
constexpr int kMinimizeRight = 65;     // minimize slot when there is a maximize button
constexpr int kButtonTop = 1;
constexpr int kButtonHeight = 19;
constexpr int kIconButtonWidth = 22;
constexpr int kTileTop = 2;
constexpr int kTileWidth = 30;
constexpr int kTileHeight = 17;
constexpr int kTileLeft = 23;
constexpr int kTileRightMargin = 33;
constexpr int kCornerSize = 21;
constexpr int kCornerInset = 23;       // corners sit this far from the right and bottom
constexpr int kSideLineTop = 20;
constexpr int kSideLineShortening = 26;
constexpr int kCaptionTextLeft = 30;
constexpr int kCaptionTextRightMargin = 70;

constexpr unsigned kCaptionSeparator = 0x0B0B0C;
constexpr unsigned kWhite = 0xFFFFFF;
constexpr unsigned kShadow = 0xA1A1A1;
constexpr unsigned kRightEdge = 0xC4C4C4;
constexpr unsigned kBottomEdge = 0xB8B8B8;
constexpr unsigned kCaptionHighlight = 0x95A9D6;

}  // namespace

CaptionButton CaptionButtonAt(int x, int y, int width, FrameButtons buttons) {
    if (y < 0 || !InCaptionBand(y)) return CaptionButton::None;
    if (x > width - kCloseSlot) return CaptionButton::Close;
    if (x > 0 && x < kCloseSlot) return CaptionButton::Icon;
    if (buttons.hasMaximize) {
        if (x > width - kMaximizeRight) return CaptionButton::Maximize;
        if (buttons.hasMinimize && x > width - kMinimizeRight) return CaptionButton::Minimize;
    } else if (buttons.hasMinimize && x > width - kMaximizeRight) {
        return CaptionButton::Minimize;
    }
    return CaptionButton::None;
}

FrameHit HitTest(int x, int y, int width, int height, int border) {
    if (border > 0) {
        const bool left = x < border, right = x >= width - border;
        const bool top = y < border, bottom = y >= height - border;
        if (top && left) return FrameHit::TopLeft;
        if (top && right) return FrameHit::TopRight;
        if (bottom && left) return FrameHit::BottomLeft;
        if (bottom && right) return FrameHit::BottomRight;
        if (left) return FrameHit::Left;
        if (right) return FrameHit::Right;
        if (top) return FrameHit::Top;
        if (bottom) return FrameHit::Bottom;
    }
    return InCaptionBand(y) ? FrameHit::Caption : FrameHit::Client;
}

std::vector<FramePiece> FrameLayout(int w, int h, const FrameState& state) {
    std::vector<FramePiece> pieces;
    auto fill = [&](int x, int y, int cx, int cy, unsigned rgb) {
        if (cx > 0 && cy > 0) pieces.push_back({FramePiece::Fill, 0, rgb, x, y, cx, cy});
    };
    auto bitmap = [&](int id, int x, int y, int cx, int cy) {
        pieces.push_back({FramePiece::Bitmap, id, 0, x, y, cx, cy});
    };
    const int side = h - kSideLineShortening;
    const int bottomSpan = w - 11;
    fill(0, kCaptionHeight - 1, w, 1, kCaptionSeparator);
    fill(1, kSideLineTop, 1, side, kWhite);
    fill(5, kSideLineTop, 1, side, kShadow);
    fill(w - 3, kSideLineTop, 1, side, kRightEdge);
    fill(w - 6, kSideLineTop, 1, side, kWhite);
    fill(w - 7, kSideLineTop, 1, side, kShadow);
    fill(5, h - 3, bottomSpan, 1, kBottomEdge);
    fill(5, h - 6, bottomSpan, 1, kWhite);
    fill(5, h - 7, bottomSpan, 1, kShadow);
    fill(10, 1, w - 20, 1, kCaptionHighlight);

    if (w - kTileRightMargin > kTileLeft) {
        for (int x = kTileLeft; x < w - kTileRightMargin; x += kTileWidth)
            bitmap(res::kFrameCaptionTile, x, kTileTop, kTileWidth, kTileHeight);
    }
    bitmap(res::kFrameCornerBottomLeft, 1, h - kCornerInset, kCornerSize, kCornerSize);
    bitmap(res::kFrameCornerBottomRight, w - kCornerInset, h - kCornerInset, kCornerSize, kCornerSize);

    int icon = res::kFrameIconNormal;
    if (state.hasIconMenu) {
        if (state.pressed == CaptionButton::Icon) icon = res::kFrameIconPressed;
        else if (state.iconHover) icon = res::kFrameIconHover;
    }
    bitmap(icon, 1, kButtonTop, kIconButtonWidth, kButtonHeight);
    const auto pick = [&](CaptionButton b, int pressed, int normal) {
        return state.pressed == b ? pressed : normal;
    };
    bitmap(pick(CaptionButton::Close, res::kFrameClosePressed, res::kFrameCloseNormal), w - kCloseSlot,
           kButtonTop, kCaptionButtonSpan, kButtonHeight);
    const int minimize = pick(CaptionButton::Minimize, res::kFrameMinimizePressed, res::kFrameMinimizeNormal);
    const auto tile = [&](int right) {
        bitmap(res::kFrameCaptionTile, w - right, kTileTop, kCaptionButtonSpan, kTileHeight);
    };
    if (state.buttons.hasMaximize) {
        bitmap(pick(CaptionButton::Maximize, res::kFrameMaximizePressed, res::kFrameMaximizeNormal),
               w - kMaximizeRight, kButtonTop, kCaptionButtonSpan, kButtonHeight);
        if (state.buttons.hasMinimize)
            bitmap(minimize, w - kMinimizeRight, kButtonTop, kCaptionButtonSpan, kButtonHeight);
        else
            tile(kMinimizeRight);
    } else {
        tile(kMaximizeRight);
        if (state.buttons.hasMinimize)
            bitmap(minimize, w - kMaximizeRight, kButtonTop, kCaptionButtonSpan, kButtonHeight);
        else
            tile(kMaximizeRight);
    }
    return pieces;
}

TextBox CaptionTextBox(int width) {
    return {kCaptionTextLeft, 0, width - kCaptionTextRightMargin, kCaptionHeight};
}

std::vector<RowSpan> RoundedRectRows(int width, int height, int ellipseWidth, int ellipseHeight) {
    std::vector<RowSpan> rows;
    if (width <= 0 || height <= 0) return rows;
    const double rx = std::min(ellipseWidth, width) / 2.0;
    const double ry = std::min(ellipseHeight, height) / 2.0;
    rows.reserve(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const int fromEdge = std::min(y, height - 1 - y);
        int inset = 0;
        if (fromEdge < ry) {
            // Distance of the row's centre from the ellipse's centre, as a share of ry.
            const double dy = (ry - (fromEdge + 0.5)) / ry;
            inset = static_cast<int>(std::lround(rx - rx * std::sqrt(std::max(0.0, 1.0 - dy * dy))));
        }
        rows.push_back({inset, width - inset});
    }
    return rows;
}

bool InClientArea(int x, int y, int width, int height) {
    return x >= kClientLeft && x < width - kClientRight && y >= kClientTop && y < height - kClientBottom;
}

}  // namespace fv::notify
