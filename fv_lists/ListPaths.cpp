#include "fv_lists/ListPaths.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fv_platform/registry/Registry.h"

namespace fv::lists {
namespace {

std::string DataHome() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') return data;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/share";
}

}  // namespace

ListPaths ListPaths::FromEnvironment() { return Under(registry::ConfigHome(), DataHome()); }

ListPaths ListPaths::Under(const std::string& configHome, const std::string& dataHome) {
    ListPaths paths;
    paths.configFile = configHome + "/ferrovane/lists.conf";
    paths.unitDir = configHome + "/systemd/user";
    const std::string data = dataHome + "/ferrovane/";
    paths.mergedFile = data + "lists.p2p";
    paths.stateFile = data + "lists.state";
    paths.lockFile = data + "lists.lock";
    paths.copiesDir = data + "lists.d";
    return paths;
}

std::string ListPaths::CopyFile(const std::string& location) const {
    // FNV-1a: a stable name that needs no escaping whatever the location holds.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : location) hash = (hash ^ c) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "/%016llx.list", static_cast<unsigned long long>(hash));
    return copiesDir + name;
}

}  // namespace fv::lists
