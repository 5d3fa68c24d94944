// The merged file as the program reads it: loaded with the program's own loader.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "fv_gui/blocklist/IpTable.h"

namespace fv::test {

struct LoadedList {
    bool loaded = false;
    std::int32_t ranges = 0;
    std::size_t lines = 0;  // lines in the file
    std::vector<RangeEntry> entries;
    std::string Name(std::uint32_t address) const {
        std::string name = "<miss>";
        table->LookupName(address, name);
        return name;
    }
    std::shared_ptr<IpTable> table = std::make_shared<IpTable>();
};

inline LoadedList LoadWithProgramLoader(const std::string& path, const std::string& text) {
    LoadedList result;
    std::vector<std::uint64_t> buffer(kSessionRangeBufferSize / 8 + 1, 0);
    auto* ranges = reinterpret_cast<RangeTable*>(buffer.data());
    result.loaded = result.table->Load(path, ranges, kSessionRangeBufferSize);
    result.ranges = result.table->RangeCount();
    result.lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    result.entries.assign(ranges->Entries(), ranges->Entries() + ranges->count);
    return result;
}

}  // namespace fv::test
