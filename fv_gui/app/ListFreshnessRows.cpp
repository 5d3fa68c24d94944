// The rows on the subscribed lists: shown after a table is loaded, when the table is the merged
// file of the lists, so the user sees how fresh the protection is.
#include <ctime>

#include "fv_gui/app/SessionController.h"
#include "fv_lists/Freshness.h"

namespace fv {

void SessionController::ReportListFreshness() {
    const lists::ListPaths paths = lists::ListPaths::FromEnvironment();
    if (blocklistPath_ != paths.mergedFile) return;
    for (const lists::StatusLine& line : lists::ReadFreshness(paths, static_cast<std::int64_t>(std::time(nullptr)))) {
        Report(line.warning ? StatusKind::Warning : StatusKind::Information, line.text);
    }
}

}  // namespace fv
