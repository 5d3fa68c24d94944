// What the program's main window says about the lists: read from the subscriptions file and
// the state the updates leave, without changing either.
#pragma once

#include <cstdint>
#include <vector>

#include "fv_lists/ListPaths.h"
#include "fv_lists/ListState.h"

namespace fv::lists {

// The rows for the lists at `paths` (see FreshnessLines); none when there are no sources or the
// subscriptions cannot be read.
std::vector<StatusLine> ReadFreshness(const ListPaths& paths, std::int64_t now);

}  // namespace fv::lists
