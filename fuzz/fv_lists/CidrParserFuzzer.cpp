// libFuzzer target for the address-or-CIDR parser. Every block it keeps must be an aligned
// power-of-two block, and the mixed-format reader must agree with it on lines it took as blocks.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fv_lists/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fv::lists;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ParsedList list;
    ParseCidr(text, list);
    fuzz::CheckParsed(text, list);
    for (const ListRange& range : list.ranges) {
        const std::uint64_t count = std::uint64_t{range.last} - range.first + 1;
        if (!std::has_single_bit(count) || range.first % count != 0) std::abort();
    }
    ParsedList mixed;
    ParseList(text, mixed);
    fuzz::CheckParsed(text, mixed);
    return 0;
}
