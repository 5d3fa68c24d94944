// The main window's vocabulary shared with its tests and the gallery: its controls by id, the
// lamp's states, its results and the tray menu positions it relabels.
#pragma once

namespace fv {

// Controls of the main window, by id; each widget's object name is its id in decimal.
inline constexpr int kMainDialogTemplate = 102;
inline constexpr int kStartStopButton = 1000;
inline constexpr int kQuitButton = 1001;
inline constexpr int kBlockedCounter = 1005;
inline constexpr int kStatusList = 1017;
inline constexpr int kGrantedCounter = 1023;
inline constexpr int kStatusLampControl = 1026;
inline constexpr int kResetGrantedButton = 1032;
inline constexpr int kResetBlockedButton = 1043;
inline constexpr int kViewLogButton = 1057;
inline constexpr int kAdapterSelector = 1073;
inline constexpr int kMacAddressLabel = 1075;
inline constexpr int kMediumLabel = 1076;

// Lamp states.
inline constexpr int kLampNotReady = 0;
inline constexpr int kLampReady = 1;
inline constexpr int kLampFiltering = 2;

// Dialog results.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;

// Tray menu positions the window relabels and greys.
inline constexpr int kTrayStartStopPosition = 1;
inline constexpr int kTrayQuitPosition = 2;

}  // namespace fv
