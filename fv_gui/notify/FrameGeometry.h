// Geometry of the skinned frame: the client inset, caption buttons and their hit test, the
// order in which the frame's pieces are drawn, and the rounded window shape. No Qt here.
#pragma once

#include <vector>

namespace fv::notify {

inline constexpr int kClientLeft = 6;     // client area inset from the window's edges
inline constexpr int kClientTop = 20;     // = caption band height
inline constexpr int kClientRight = 7;
inline constexpr int kClientBottom = 7;
inline constexpr int kCaptionHeight = kClientTop;
inline constexpr int kCaptionButtonSpan = 21;   // each right-hand caption button's slot
inline constexpr int kCloseSlot = 23;           // close: right-most 23 pixels; icon: left 23
inline constexpr int kWindowCornerEllipse = 11; // window shape: rounded rect, 11 x 11 corners
inline constexpr int kBorderCornerEllipse = 14; // the frame's drawn outline

enum class CaptionButton { None = 0, Minimize = 1, Maximize = 2, Close = 3, Icon = 4 };

struct FrameButtons {
    bool hasMaximize = false;
    bool hasMinimize = false;
};

// Which caption button lies under (x, y), window coordinates (0,0 = window's top-left),
// for a window `width` pixels wide. The edge pixels of the icon slot belong to the caption.
[[nodiscard]] CaptionButton CaptionButtonAt(int x, int y, int width, FrameButtons buttons);

[[nodiscard]] inline bool InCaptionBand(int y) { return y < kCaptionHeight; }

// Where the mouse is over a frameless window: resize borders (only for a resizable window,
// `border` pixels wide), the caption band, or the client area and frame below it.
enum class FrameHit { Client, Caption, Left, Right, Top, Bottom, TopLeft, TopRight, BottomLeft, BottomRight };
[[nodiscard]] FrameHit HitTest(int x, int y, int width, int height, int border);

// Whether (x, y) lies in the client area rather than on the frame around it.
[[nodiscard]] bool InClientArea(int x, int y, int width, int height);

// One piece of frame drawing: a bitmap by id, or a filled rectangle of a colour.
struct FramePiece {
    enum Kind { Bitmap, Fill } kind;
    int id;             // bitmap id (Bitmap)
    unsigned rgb;       // 0xRRGGBB (Fill)
    int x, y, w, h;     // destination; a bitmap shows its top-left w x h part
};

struct FrameState {
    CaptionButton pressed = CaptionButton::None;
    bool iconHover = false;
    bool hasIconMenu = false;
    FrameButtons buttons;
};

// The pieces after the black background and the rounded outline, in drawing order:
// bevel lines, caption tiles, corners, icon button, close, maximize / minimize or tiles.
[[nodiscard]] std::vector<FramePiece> FrameLayout(int width, int height, const FrameState& state);

// Caption text rectangle (left, top, right, bottom; right may fall left of left on narrow windows).
struct TextBox {
    int left, top, right, bottom;
};
[[nodiscard]] TextBox CaptionTextBox(int width);

// A rounded rectangle as one horizontal span per row: row y covers [first[y], last[y]).
// Corners are quarter ellipses of ellipseWidth x ellipseHeight.
struct RowSpan {
    int first, last;
};
[[nodiscard]] std::vector<RowSpan> RoundedRectRows(int width, int height, int ellipseWidth, int ellipseHeight);

}  // namespace fv::notify
