#include "fv_drv/ndis/nfqueue/QueueRules.h"

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

extern char** environ;

namespace ndis::nfqueue_media {
namespace {

constexpr const char* kRulesPrefix = "ferrovane-";
// Names nftables cannot take as they are are spelt in hexadecimal behind this prefix.
constexpr const char* kHexRulesPrefix = "ferrovane_";
// The tools are looked for here only: never through a search path the caller controls.
constexpr const char* kToolFolders[] = {"/usr/sbin", "/sbin", "/usr/bin", "/bin"};
// Jumps to our chain that a run may have left behind, at most.
constexpr int kMaxStaleJumps = 64;

struct ToolResult {
    int status = -1;
    std::string output;  // standard output and errors together
};

ToolResult RunTool(const std::string& tool, const std::vector<std::string>& args) {
    ToolResult result;
    std::string path;
    for (const char* folder : kToolFolders) {
        const std::string candidate = std::string(folder) + "/" + tool;
        if (access(candidate.c_str(), X_OK) == 0) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) {
        result.output = tool + " not found";
        return result;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
    std::vector<char*> argv;
    argv.push_back(path.data());
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The daemon blocks its stop signals in every thread; the tool must not inherit that.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeFds[1]);
    if (spawned == 0) {
        char buffer[512];
        for (;;) {
            const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
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
    close(pipeFds[0]);
    return result;
}

ToolResult Iptables(std::vector<std::string> args) {
    args.insert(args.begin(), {"-w", "-t", "mangle"});
    return RunTool("iptables", args);
}

bool NftablesWord(const std::string& name) {
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// True when a listing of one table shows nothing but chains without rules that accept.
bool OnlyEmptyChains(const std::string& listing) {
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos) continue;
        const std::string text = line.substr(start);
        if (text[0] == '#' || text[0] == '}' || text.starts_with("table ") ||
            text.starts_with("chain ")) {
            continue;
        }
        if (text.starts_with("type ") && text.find("policy accept;") != std::string::npos) continue;
        return false;
    }
    return true;
}

// iptables on nftables leaves the chains it made for our jumps, and the mangle table itself,
// behind when the last rule goes. What holds nothing is taken away again (an empty chain that
// accepts changes no packet's fate), so that the ruleset is as we found it.
void DropEmptyMangleChains() {
    for (const char* chain : {"PREROUTING", "POSTROUTING"}) {
        const ToolResult listing = RunTool("nft", {"list", "chain", "ip", "mangle", chain});
        if (listing.status == 0 && OnlyEmptyChains(listing.output)) {
            RunTool("nft", {"delete", "chain", "ip", "mangle", chain});
        }
    }
    const ToolResult listing = RunTool("nft", {"list", "table", "ip", "mangle"});
    if (listing.status == 0 && OnlyEmptyChains(listing.output)) {
        RunTool("nft", {"delete", "table", "ip", "mangle"});
    }
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

bool AttachableName(const std::string& name) {
    if (name.empty() || name.size() >= IFNAMSIZ || name == "." || name == "..") return false;
    for (char c : name) {
        // Quotes would end the name in a rule; '+', '*' and '!' would make it a pattern.
        if (c <= ' ' || c > '~' || c == '"' || c == '\\' || c == '\'' || c == '/' || c == ':' ||
            c == '=' || c == '+' || c == '*' || c == '!') {
            return false;
        }
    }
    return true;
}

std::string RulesName(const std::string& interfaceName) {
    if (NftablesWord(interfaceName)) return kRulesPrefix + interfaceName;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = kHexRulesPrefix;
    for (unsigned char c : interfaceName) {
        name += kHex[c >> 4];
        name += kHex[c & 0x0F];
    }
    return name;
}

void QueueRules::RemoveLeftovers(const std::string& interfaceName) {
    const std::string name = RulesName(interfaceName);
    RunTool("nft", {"delete", "table", "ip", name});
    bool hadChain = false;
    for (const auto& [hook, side] : {std::pair{"PREROUTING", "-i"}, std::pair{"POSTROUTING", "-o"}}) {
        for (int i = 0; i < kMaxStaleJumps; ++i) {
            if (Iptables({"-D", hook, side, interfaceName, "-j", name}).status != 0) break;
            hadChain = true;
        }
    }
    if (Iptables({"-F", name}).status == 0) hadChain = true;
    Iptables({"-X", name});
    if (hadChain) DropEmptyMangleChains();
}

bool QueueRules::Install(const std::string& interfaceName, std::uint16_t queue,
                         std::string& error) {
    Remove();
    if (!AttachableName(interfaceName)) {
        error = "cannot attach to an interface named " + interfaceName;
        return false;
    }
    interface_ = interfaceName;
    RemoveLeftovers(interfaceName);
    const std::string name = RulesName(interfaceName);
    const std::string number = std::to_string(queue);

    // One nft command line is one transaction: without the queue expression nothing stays.
    const std::string quoted = "\"" + interfaceName + "\"";
    const std::string script =
        "add table ip " + name + "; " +
        "add chain ip " + name +
        " incoming { type filter hook prerouting priority mangle; policy accept; }; " +
        "add chain ip " + name +
        " outgoing { type filter hook postrouting priority mangle; policy accept; }; " +
        "add rule ip " + name + " incoming iifname " + quoted + " queue num " + number +
        " bypass; " +
        "add rule ip " + name + " outgoing oifname " + quoted + " queue num " + number +
        " bypass";
    const ToolResult nft = RunTool("nft", {script});
    if (nft.status == 0) {
        kind_ = Kind::Nftables;
        return true;
    }

    const std::vector<std::vector<std::string>> steps = {
        {"-N", name},
        {"-A", name, "-j", "NFQUEUE", "--queue-num", number, "--queue-bypass"},
        {"-A", "PREROUTING", "-i", interfaceName, "-j", name},
        {"-A", "POSTROUTING", "-o", interfaceName, "-j", name},
    };
    for (const auto& step : steps) {
        const ToolResult r = Iptables(step);
        if (r.status != 0) {
            error = "cannot queue " + interfaceName + ": nft: " + Trimmed(nft.output) +
                    "; iptables: " + Trimmed(r.output);
            RemoveLeftovers(interfaceName);
            interface_.clear();
            return false;
        }
    }
    kind_ = Kind::Iptables;
    return true;
}

void QueueRules::Remove() {
    if (kind_ == Kind::None) return;
    RemoveLeftovers(interface_);
    kind_ = Kind::None;
    interface_.clear();
}

}  // namespace ndis::nfqueue_media
