// Template and control ids of the preferences dialog and the about box. Every control carries
// its id as its object name, so it can be found with ControlById.
#pragma once

class QWidget;

namespace fv::dialogs {

inline constexpr int kTemplatePreferences = 154;
inline constexpr int kTemplateAbout = 100;

// Shared by both templates.
inline constexpr int kIdOk = 1;      // "Apply" / "Close"
inline constexpr int kIdCancel = 2;

// Preferences.
inline constexpr int kIdLastSaved = 1032;
inline constexpr int kIdNotifyList = 1033;
inline constexpr int kIdWaitSeconds = 1035;
inline constexpr int kIdGrantedToVideo = 1036;
inline constexpr int kIdBlockedToVideo = 1037;
inline constexpr int kIdLogFolder = 1038;
inline constexpr int kIdChooseFolder = 1039;
inline constexpr int kIdGrantedToFile = 1040;
inline constexpr int kIdBlockedToFile = 1041;
inline constexpr int kIdAutoStart = 1042;
inline constexpr int kIdStartWithSession = 1045;
inline constexpr int kIdCollectorSlider = 1046;
inline constexpr int kIdLoadMinimized = 1047;
inline constexpr int kIdTrayAlwaysVisible = 1048;
inline constexpr int kIdTrayBlinking = 1053;
inline constexpr int kIdAutoUpdate = 1070;
inline constexpr int kIdRestartTime = 1079;

// About box.
inline constexpr int kIdDriverFile = 1018;
inline constexpr int kIdDriverVersion = 1019;
inline constexpr int kIdDriverState = 1020;
inline constexpr int kIdProgramVersion = 1021;
inline constexpr int kIdPictureFrame = 1031;
inline constexpr int kIdCreditsPlace = 1059;

// Gives `widget` its control id.
void SetControlId(QWidget* widget, int id);
// The descendant of `root` with control id `id`, or null.
[[nodiscard]] QWidget* ControlById(const QWidget* root, int id);

}  // namespace fv::dialogs
