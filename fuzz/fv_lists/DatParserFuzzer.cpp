// libFuzzer target for the `.dat` parser. Every entry it keeps, written back as a `.dat` line,
// must read back as the same range and description.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fv_lists/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fv::lists;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ParsedList list;
    ParseDat(text, list);
    fuzz::CheckParsed(text, list);
    for (const ListRange& range : list.ranges) {
        char first[16], last[16];
        const std::string line = std::string(first, FormatIpv4(range.first, first)) + " - " +
                                 std::string(last, FormatIpv4(range.last, last)) + " , 000 , " +
                                 std::string(list.Description(range));
        ParsedList again;
        ParseDat(line, again);
        if (again.ranges.size() != 1 || again.ranges[0].first != range.first ||
            again.ranges[0].last != range.last || again.Description(again.ranges[0]) != list.Description(range)) {
            std::abort();
        }
    }
    return 0;
}
