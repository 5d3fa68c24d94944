// What every parse must hold, whatever the input: ranges ordered, descriptions inside the text
// store and free of line breaks, and every line accounted for at most once.
#pragma once

#include <cstdlib>
#include <string_view>

#include "fv_lists/ListFormats.h"

namespace fv::lists::fuzz {

inline std::size_t CountLines(std::string_view text) {
    std::size_t lines = 0;
    while (!text.empty()) {
        ++lines;
        const std::size_t lf = text.find('\n');
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    }
    return lines;
}

inline void CheckParsed(std::string_view text, const ParsedList& list) {
    for (const ListRange& range : list.ranges) {
        if (range.first > range.last) std::abort();
        if (std::size_t{range.text} + range.length > list.texts.size()) std::abort();
        if (list.Description(range).find('\n') != std::string_view::npos) std::abort();
    }
    if (list.ranges.size() + list.ipv6 + list.allowed + list.unrecognised > CountLines(text)) std::abort();
}

}  // namespace fv::lists::fuzz
