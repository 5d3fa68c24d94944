// ferrovane-lists: the blocklist subscriptions (see ListsCommand.h).
#include <ctime>
#include <filesystem>
#include <iostream>

#include "fv_lists/ListsCommand.h"

int main(int argc, char** argv) {
    fv::lists::InitFetching();
    fv::lists::CommandContext context;
    context.paths = fv::lists::ListPaths::FromEnvironment();
    context.now = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
    std::error_code error;
    context.program = std::filesystem::read_symlink("/proc/self/exe", error).string();
    context.out = &std::cout;
    context.err = &std::cerr;
    return fv::lists::RunListsCommand(std::vector<std::string>(argv + 1, argv + argc), context);
}
