// All good copies of the sources into the one `p2p` file the program loads. Pure logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fv_lists/ListFormats.h"

namespace fv::lists {

// The most ranges the program's loader takes from one file; it stops reading after them.
std::size_t MaxLoadedRanges();

struct MergeInput {
    const ParsedList* list = nullptr;
    std::string fallbackDescription;  // for entries the list gave no description
};

struct MergeResult {
    std::string text;               // the `p2p` file
    std::size_t ranges = 0;         // lines in `text`
    bool joined = false;            // overlapping and adjacent ranges were joined to fit
    std::size_t dropped = 0;        // ranges left out even after joining
};

// Every range of every input, in input order, as "description:first-last" lines the loader
// accepts: a description is never empty and the line never shorter than the loader's minimum.
// When there are more ranges than the loader takes, overlapping and adjacent ranges are joined
// (each group keeps the description of its lowest range) and, if that is still too many, the
// highest ranges are left out and counted in `dropped`. `maxRanges` is for tests.
MergeResult MergeLists(const std::vector<MergeInput>& inputs, std::size_t maxRanges = MaxLoadedRanges());

}  // namespace fv::lists
