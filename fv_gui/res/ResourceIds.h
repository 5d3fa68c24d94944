// Numeric ids of the program's artwork, menus and dialog templates.
#pragma once

namespace fv::res {

// Status lamp, custom controls, log list icons, program icons and the about picture.
inline constexpr int kIconApplication = 128;    // program icon: window, drag image, desktop entry
inline constexpr int kBitmapLampGrey = 139;     // 64 x 64 lamps on the key colour
inline constexpr int kBitmapLampGreyGreen = 140;
inline constexpr int kBitmapLampGreen = 141;
inline constexpr int kBitmapLampRed = 142;
inline constexpr int kIconLogError = 143;       // 16 x 16 log list icons
inline constexpr int kIconLogSuccess = 144;
inline constexpr int kIconLogInformation = 145;
inline constexpr int kIconLogWarning = 146;
inline constexpr int kBitmapAboutPicture = 151; // 200 x 149
inline constexpr int kIconNotifications = 159;  // preferences group icons
inline constexpr int kIconLogging = 160;
inline constexpr int kIconGeneral = 161;
inline constexpr int kIconLogFolder = 162;
inline constexpr int kBitmapSliderChannel = 164;
inline constexpr int kBitmapSliderThumb = 165;
inline constexpr int kIconTrayAlert = 166;      // a packet was blocked
inline constexpr int kIconTrayActive = 167;     // filtering on
inline constexpr int kIconTrayStopped = 201;    // filtering off

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
