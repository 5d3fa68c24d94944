// One update run: every source fetched (or read) at once, each good body kept as that source's
// last good copy, the merged file rebuilt from all good copies, the state written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fv_lists/Fetcher.h"
#include "fv_lists/ListPaths.h"
#include "fv_lists/ListState.h"
#include "fv_lists/SourceConfig.h"

namespace fv::lists {

struct UpdateOptions {
    bool force = false;      // fetch without validators
    bool scheduled = false;  // only the sources that are due (periods and back-off)
    bool offline = false;    // no source contacted: the merged file rebuilt from the copies
    std::int64_t now = 0;    // Unix seconds
    FetchOptions fetch;
};

struct UpdateReport {
    std::vector<std::string> problems;  // one line each, for standard error
    bool mergedWritten = false;
    ListsState state;                   // as written
    bool AllGood() const { return problems.empty(); }
};

// The caller holds the lists' lock.
UpdateReport UpdateLists(const std::vector<Source>& sources, const ListPaths& paths, const UpdateOptions& options);

// The state as last written (empty when there is none or it cannot be read).
ListsState LoadState(const ListPaths& paths);

}  // namespace fv::lists
