// The program's own version, shown as "v%d.%02d" with the build in the title, the tray tip,
// the connection log banner and the about box.
#pragma once

namespace fv {

inline constexpr int kProgramVersionMajor = 2;
inline constexpr int kProgramVersionMinor = 1;
inline constexpr int kProgramBuild = 9;
inline constexpr const char kProgramReleaseTag[] = "**BETA**";

}  // namespace fv
