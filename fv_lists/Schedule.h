// The schedule of updates without the program: a systemd user timer and the service it starts,
// which runs `ferrovane-lists update --scheduled`; the sources' periods and back-off decide
// which of them that run fetches.
#pragma once

#include <string>
#include <vector>

namespace fv::lists {

inline constexpr char kTimerUnit[] = "ferrovane-lists.timer";
inline constexpr char kServiceUnit[] = "ferrovane-lists.service";

// The units' text for the tool at `program` (an absolute path). Pure.
std::string ServiceUnitText(const std::string& program);
std::string TimerUnitText();

// Runs `systemctl --user ARGS...` (found through PATH); false with `error` holding its exit
// status when it fails.
bool RunSystemctl(const std::vector<std::string>& args, std::string& error);

// Writes both units into `unitDir`, reloads the user manager and starts the timer (also at
// every login).
bool EnableSchedule(const std::string& unitDir, const std::string& program, std::string& error);
// Stops and disables the timer and removes both units.
bool DisableSchedule(const std::string& unitDir, std::string& error);

}  // namespace fv::lists
