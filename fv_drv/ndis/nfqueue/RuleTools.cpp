#include "fv_drv/ndis/nfqueue/RuleTools.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "fv_platform/UniqueFd.h"

extern char** environ;

namespace ndis::nfqueue_media {
namespace {

constexpr const char* kToolFolders[] = {"/usr/sbin", "/sbin", "/usr/bin", "/bin"};
constexpr const char* kIptablesOnNftables = "iptables-nft";
constexpr const char* kPlainIptables = "iptables";
constexpr const char* kLegacyIptables = "iptables-legacy";
// The legacy tables in use in this network namespace, one name a line.
constexpr const char* kLegacyTables = "/proc/net/ip_tables_names";
constexpr const char* kMangleTable = "mangle";
// Legacy iptables serialises its runs through this file, made by root.
constexpr const char* kSharedXtablesLock = "/run/xtables.lock";
constexpr const char* kLockVariable = "XTABLES_LOCKFILE";
constexpr const char* kOwnLockName = "xtables.lock";

std::string lockFolder;

std::string FindTool(const std::string& tool) {
    for (const char* folder : kToolFolders) {
        const std::string candidate = std::string(folder) + "/" + tool;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Legacy iptables opens its lock file (creating it) before it touches a table. Our own
// user can neither open root's nor make one in /run, so it gets one of its own: that one
// serialises our runs only, and a run of root's that overlaps one of ours is no longer made
// to wait (the kernel then refuses one of the two table replacements, or takes both when it
// cannot tell them apart, which the rules check puts right for ours).
std::vector<std::string> LegacyLockEnvironment() {
    if (const fv::UniqueFd shared(open(kSharedXtablesLock, O_RDONLY | O_CREAT | O_CLOEXEC, 0600));
        shared) {
        return {};
    }
    if (lockFolder.empty()) return {};
    return {std::string(kLockVariable) + "=" + lockFolder + "/" + kOwnLockName};
}

}  // namespace

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnvironment) {
    ToolResult result;
    std::string path = FindTool(tool);
    if (path.empty()) {
        result.output = tool + " not found";
        return result;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    // What the tool prints comes back through the read end; the write end is the tool's.
    fv::UniqueFd readEnd(pipeFds[0]);
    fv::UniqueFd writeEnd(pipeFds[1]);
    std::vector<char*> argv;
    argv.push_back(path.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The daemon's environment, with what the tool is given in place of any earlier value.
    std::vector<std::string> extra(extraEnvironment);
    std::vector<char*> envp;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        bool replaced = false;
        for (const std::string& x : extra) {
            const std::size_t nameLength = x.find('=') + 1;
            replaced = replaced || std::strncmp(*e, x.c_str(), nameLength) == 0;
        }
        if (!replaced) envp.push_back(*e);
    }
    for (std::string& x : extra) envp.push_back(x.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The daemon blocks its stop signals in every thread; the tool must not inherit that.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    // Ours closed, the read below ends when the tool's copies are gone.
    writeEnd.Reset();
    if (spawned == 0) {
        char buffer[512];
        for (;;) {
            const ssize_t n = read(readEnd.Get(), buffer, sizeof buffer);
            if (n > 0) {
                result.output.append(buffer, std::size_t(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

void SetIptablesLockFolder(const std::string& folder) {
    lockFolder = folder;
}

bool IptablesOnNftables() {
    return !FindTool(kIptablesOnNftables).empty();
}

ToolResult Iptables(std::vector<std::string> args) {
    args.insert(args.begin(), {"-w", "-t", kMangleTable});
    if (IptablesOnNftables()) return RunTool(kIptablesOnNftables, args);
    return RunTool(kPlainIptables, args, LegacyLockEnvironment());
}

ToolResult LegacyIptablesBeside(std::vector<std::string> args) {
    if (!IptablesOnNftables()) return {};
    // Asking legacy iptables about a table would load it: only one already in use is asked.
    std::ifstream tables(kLegacyTables);
    std::string table;
    bool inUse = false;
    while (!inUse && std::getline(tables, table)) inUse = table == kMangleTable;
    if (!inUse) return {};
    args.insert(args.begin(), {"-w", "-t", kMangleTable});
    return RunTool(kLegacyIptables, args, LegacyLockEnvironment());
}

}  // namespace ndis::nfqueue_media
