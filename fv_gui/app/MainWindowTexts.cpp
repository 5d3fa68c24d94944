#include "fv_gui/app/MainWindowTexts.h"

#include <cinttypes>
#include <cstdio>

#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/settings/Version.h"

namespace fv {

std::string TitleText() {
    char text[128];
    std::snprintf(text, sizeof text, "Ferrovane v%d.%02d (build %d) %s", kProgramVersionMajor,
                  kProgramVersionMinor, kProgramBuild, kProgramReleaseTag);
    return text;
}

StatusRow LoggingStateRow(bool blockedToFile, bool grantedToFile, const std::string& logPath) {
    const std::string file = logPath + kLogFileName + "\".";
    if (blockedToFile && grantedToFile) return {StatusKind::Information, "Logging all to \"" + file};
    if (blockedToFile) return {StatusKind::Information, "Logging blocked packets only to \"" + file};
    if (grantedToFile) return {StatusKind::Information, "Logging granted packets only to \"" + file};
    return {StatusKind::Warning, texts::kNotLogging};
}

std::string UsingDatabaseText(const std::string& path) { return "Using \"" + path + "\" as IP database."; }

std::string KnownAddressesText(std::uint64_t addresses, std::int32_t ranges) {
    char text[96];
    std::snprintf(text, sizeof text, "There are %" PRIu64 " known IPs in %" PRId32 " ranges.", addresses, ranges);
    return text;
}

std::string SelectedDatabaseText(const std::string& path) { return "Selected \"" + path + "\" as IP database"; }

StatusRow CancelledLoadRow(const std::string& ipdb) {
    if (ipdb.empty()) return {StatusKind::Error, texts::kNoPreviousTable};
    return {StatusKind::Warning, "IP database not selected, still using previous one (\"" + ipdb + "\")."};
}

}  // namespace fv
