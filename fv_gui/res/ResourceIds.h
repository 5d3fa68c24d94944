// Numeric ids of the program's artwork, menus and dialog templates.
#pragma once

namespace fv::res {

// Status lamp, custom controls, log list icons, program icons and the about picture.

// Skinned frame and notifier popup.
inline constexpr int kNotifierSkin = 152;             // popup background; magenta is cut away
inline constexpr int kNotifierCloseButton = 153;      // three frames side by side: normal, pressed, hover
inline constexpr int kFrameCornerBottomLeft = 179;    // 21 x 21
inline constexpr int kFrameCornerBottomRight = 180;   // 21 x 21
inline constexpr int kFrameCaptionTile = 181;         // 30 x 17, also fills an absent button's place
inline constexpr int kFrameCloseNormal = 182;         // caption buttons are 21 x 19
inline constexpr int kFrameClosePressed = 183;
inline constexpr int kFrameMaximizeNormal = 184;
inline constexpr int kFrameMaximizePressed = 185;
inline constexpr int kFrameIconNormal = 186;          // icon buttons are 22 x 19
inline constexpr int kFrameMinimizeNormal = 187;
inline constexpr int kFrameMinimizePressed = 188;
inline constexpr int kFrameIconPressed = 189;
inline constexpr int kFrameIconHover = 190;

}  // namespace fv::res
