#include "fv_lists/Freshness.h"

#include <fstream>
#include <iterator>
#include <string>

namespace fv::lists {
namespace {

// Both files are small; a larger one is not ours to show.
constexpr std::streamsize kMaxRead = std::streamsize{16} << 20;

bool ReadSmallFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), {});
    return static_cast<std::streamsize>(text.size()) <= kMaxRead;
}

}  // namespace

std::vector<StatusLine> ReadFreshness(const ListPaths& paths, std::int64_t now) {
    std::string config, state;
    if (!ReadSmallFile(paths.configFile, config)) return {};
    ConfigError error;
    const auto sources = ParseSources(config, error);
    if (!sources) return {};
    if (!ReadSmallFile(paths.stateFile, state)) state.clear();
    return FreshnessLines(*sources, ParseState(state), now);
}

}  // namespace fv::lists
