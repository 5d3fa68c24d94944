// The arithmetic between the preferences dialog's controls and the stored settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fv::dialogs {

// The connections-caching slider runs from a big cache (left) to a small one (right): its
// position and the granted-address cache limit always add up to kCollectorSum.
inline constexpr int kCollectorSliderMin = 100;
inline constexpr int kCollectorSliderMax = 2000;
inline constexpr int kCollectorSliderPage = 20;
inline constexpr int kCollectorSum = kCollectorSliderMin + kCollectorSliderMax;

// The wait is edited in whole seconds and stored in milliseconds.
inline constexpr std::uint32_t kMillisecondsPerSecond = 1000;
inline constexpr int kWaitDigits = 3;

// The slider position for a stored limit, kept on the slider's range.
[[nodiscard]] int CollectorSliderPosition(std::uint32_t limit);
// The limit a slider position stands for.
[[nodiscard]] std::uint32_t CollectorLimit(int position);

// The wait edit's text for a stored time-out: whole seconds, the rest dropped.
[[nodiscard]] std::string WaitSecondsText(std::uint32_t timeoutMs);
// The time-out the wait edit's text stands for: its leading digits in seconds; none gives 0.
// Saturates instead of wrapping.
[[nodiscard]] std::uint32_t WaitTimeout(std::string_view text);

// Ends a folder with "/" unless it already does.
[[nodiscard]] std::string FolderWithSeparator(std::string folder);

}  // namespace fv::dialogs
