// The `ferrovane-lists` command: manages the subscriptions and runs their updates.
//
//   add URL|PATH [--every PERIOD] [--label TEXT]   subscribe, then update
//   remove URL|PATH|LABEL                         unsubscribe, then rebuild the merged file
//   list                                          each source's state
//   update [--force] [--scheduled]                fetch (all, or the due ones) and merge
//   enable | disable                              the systemd user timer of scheduled updates
//
// Exit status 0 when every source is good, 1 when one is not (the reasons on standard error),
// 2 for a command line that is not understood.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "fv_lists/Fetcher.h"
#include "fv_lists/ListPaths.h"

namespace fv::lists {

inline constexpr int kExitGood = 0;
inline constexpr int kExitProblem = 1;
inline constexpr int kExitUsage = 2;

struct CommandContext {
    ListPaths paths;
    FetchOptions fetch;
    std::function<std::int64_t()> now;  // Unix seconds
    std::string program;                // this tool's absolute path, for the timer's service
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
};

int RunListsCommand(const std::vector<std::string>& args, const CommandContext& context);

}  // namespace fv::lists
