// The about box's version and state lines, and its credits markup.
#pragma once

#include <cstdint>
#include <string>

#include "fv_contract/ControlCodes.h"

namespace fv::dialogs {

inline constexpr char kDriverFileName[] = "Ferrovane.sys";
inline constexpr char kDriverLoaded[] = "Loaded.";
inline constexpr char kDriverNotLoaded[] = "Not loaded.";
inline constexpr std::uint32_t kLoadedColour = 0x00A000;     // 0xRRGGBB
inline constexpr std::uint32_t kNotLoadedColour = 0xE60000;

// "GUI v2.01 (build 9) **BETA**".
[[nodiscard]] std::string ProgramVersionLine();
// "v2.00 (build 8056-Duskmere) *BETA*": the tag in upper case. The driver's texts are read only
// up to their terminating zero or the end of their field, whichever comes first.
[[nodiscard]] std::string DriverVersionLine(const DriverVersionInfo& info);

// The scrolling credits (rich-text markup).
[[nodiscard]] std::string CreditsMarkup();

}  // namespace fv::dialogs
