#include "fv_drv/ndis/nfqueue/QueueRules.h"

// The C library's network headers before the kernel's, which would define their types again.
#include <net/if.h>
#include <netinet/in.h>
#include <linux/netfilter_ipv4/ip_tables.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fv_drv/ndis/nfqueue/NftNetlink.h"
#include "fv_drv/ndis/nfqueue/RuleTools.h"

namespace ndis::nfqueue_media {
namespace {

constexpr const char* kRulesPrefix = "ferrovane-";
// Names nftables cannot take as they are are spelt in hexadecimal behind this prefix...
constexpr const char* kHexRulesPrefix = "ferrovane_";
// ...or, where that would be too long, packed seven bits a character into the symbols below.
constexpr const char* kPackedRulesPrefix = "ferrovane.";
constexpr char kPackedSymbols[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr unsigned kPackedCharBits = 7;
constexpr unsigned kPackedSymbolBits = 6;
// Jumps to our chain that a run may have left behind, at most.
constexpr int kMaxStaleJumps = 64;

constexpr const char* kMangle = "mangle";
struct Jump {
    const char* hook;
    const char* side;
};
constexpr Jump kJumps[] = {{"PREROUTING", "-i"}, {"POSTROUTING", "-o"}};
// Without a generation to watch (legacy iptables), the full check still runs this often.
constexpr int kChecksPerFullCheck = 30;
constexpr const char* kIncomingChain = "incoming";
constexpr const char* kOutgoingChain = "outgoing";

bool NftablesWord(const std::string& name) {
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::vector<std::string> QueueRule(const std::string& name, std::uint16_t queue) {
    return {name, "-j", "NFQUEUE", "--queue-num", std::to_string(queue), "--queue-bypass"};
}

std::vector<std::string> JumpRule(const Jump& jump, const std::string& interfaceName,
                                  const std::string& name) {
    return {jump.hook, jump.side, interfaceName, "-j", name};
}

// iptables on nftables makes the mangle table and its base chains for our jumps and leaves
// them behind when the last rule goes. Those chosen are taken away again while they hold
// nothing and accept (so that they changed no packet's fate), each in a step the kernel
// refuses if anyone else's chain, set or rule is in it by then.
void TidyMangle(const MangleParts& parts) {
    if (!IptablesOnNftables()) return;
    const bool chosen[] = {parts.prerouting, parts.postrouting};
    for (std::size_t i = 0; i < std::size(kJumps); ++i) {
        if (!chosen[i]) continue;
        const auto state = nft::QueryChain(kMangle, kJumps[i].hook);
        if (state && state->base && state->acceptPolicy) nft::DeleteIfEmpty(kMangle, kJumps[i].hook);
    }
    if (parts.table) nft::DeleteIfEmpty(kMangle);
}

// Legacy iptables replaces a table whole, and a replacement that takes rules away changes
// its size or its number of entries: together they stand in for a generation.
std::optional<std::uint64_t> LegacyMangleState() {
    const fv::UniqueFd fd(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
    if (!fd) return {};
    ipt_getinfo info{};
    std::strncpy(info.name, kMangle, sizeof info.name - 1);
    socklen_t length = sizeof info;
    if (getsockopt(fd.Get(), IPPROTO_IP, IPT_SO_GET_INFO, &info, &length) != 0) return {};
    return std::uint64_t(info.size) << 32 | info.num_entries;
}

// Removes our iptables chain with every jump to it. True when the chain was there.
bool RemoveChain(const std::string& interfaceName, ToolResult (*iptables)(std::vector<std::string>)) {
    const std::string name = RulesName(interfaceName);
    bool hadChain = false;
    for (const Jump& jump : kJumps) {
        for (int i = 0; i < kMaxStaleJumps; ++i) {
            std::vector<std::string> args = JumpRule(jump, interfaceName, name);
            args.insert(args.begin(), "-D");
            if (iptables(args).status != 0) break;
            hadChain = true;
        }
    }
    if (iptables({"-F", name}).status == 0) hadChain = true;
    iptables({"-X", name});
    return hadChain;
}

// Removes our table and our iptables chain. True when the chain was there.
bool RemoveOurs(const std::string& interfaceName) {
    RunTool("nft", {"delete", "table", "ip", RulesName(interfaceName)});
    return RemoveChain(interfaceName, Iptables);
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
    // Kept where it fits, so that the leftovers of earlier runs are still found.
    if (name.size() <= kMaxRulesName) return name;
    // Attachable names are printable ASCII: seven bits a character lose nothing, and the
    // symbol count grows with the length, so that no two names meet.
    name = kPackedRulesPrefix;
    std::uint32_t pending = 0;
    unsigned bits = 0;
    for (unsigned char c : interfaceName) {
        pending = (pending << kPackedCharBits) | (c & ((1u << kPackedCharBits) - 1));
        bits += kPackedCharBits;
        while (bits >= kPackedSymbolBits) {
            bits -= kPackedSymbolBits;
            name += kPackedSymbols[(pending >> bits) & ((1u << kPackedSymbolBits) - 1)];
        }
        pending &= (1u << bits) - 1;
    }
    if (bits > 0) {
        name += kPackedSymbols[(pending << (kPackedSymbolBits - bits)) & ((1u << kPackedSymbolBits) - 1)];
    }
    return name;
}

void QueueRules::RemoveLeftovers(const std::string& interfaceName) {
    // Who made mangle's chains is not known after a crash: whatever of them stands empty goes.
    if (RemoveOurs(interfaceName)) TidyMangle({true, true, true});
    // A run whose iptables was the legacy kind queued the same packets from there.
    RemoveChain(interfaceName, LegacyIptablesBeside);
}

bool QueueRules::Install(const std::string& interfaceName, std::uint16_t queue,
                         std::string& error) {
    Remove();
    if (!AttachableName(interfaceName)) {
        error = "cannot attach to an interface named " + interfaceName;
        return false;
    }
    interface_ = interfaceName;
    queue_ = queue;
    RemoveLeftovers(interfaceName);
    const std::string name = RulesName(interfaceName);
    const std::string number = std::to_string(queue);

    // One nft command line is one transaction: without the queue expression nothing stays.
    const std::string quoted = "\"" + interfaceName + "\"";
    const std::string script =
        "add table ip " + name + "; " +
        "add chain ip " + name + " " + kIncomingChain +
        " { type filter hook prerouting priority mangle; policy accept; }; " +
        "add chain ip " + name + " " + kOutgoingChain +
        " { type filter hook postrouting priority mangle; policy accept; }; " +
        "add rule ip " + name + " " + kIncomingChain + " iifname " + quoted + " queue num " +
        number + " bypass; " +
        "add rule ip " + name + " " + kOutgoingChain + " oifname " + quoted + " queue num " +
        number + " bypass";
    const ToolResult nft = RunTool("nft", {script});
    if (nft.status == 0) {
        kind_ = Kind::Nftables;
        checkedState_.reset();
        return true;
    }

    // What of mangle is ours to take away at the end.
    made_ = {};
    if (IptablesOnNftables()) {
        made_.table = !nft::TableExists(kMangle);
        const auto pre = nft::QueryChain(kMangle, kJumps[0].hook);
        const auto post = nft::QueryChain(kMangle, kJumps[1].hook);
        made_.prerouting = pre && !pre->exists;
        made_.postrouting = post && !post->exists;
    }
    std::vector<std::vector<std::string>> steps = {{"-N", name}, QueueRule(name, queue)};
    steps[1].insert(steps[1].begin(), "-A");
    for (const Jump& jump : kJumps) {
        steps.push_back(JumpRule(jump, interfaceName, name));
        steps.back().insert(steps.back().begin(), "-A");
    }
    for (const auto& step : steps) {
        const ToolResult r = Iptables(step);
        if (r.status != 0) {
            error = "cannot queue " + interfaceName + ": nft: " + Trimmed(nft.output) +
                    "; iptables: " + Trimmed(r.output);
            RemoveOurs(interfaceName);
            TidyMangle(made_);
            interface_.clear();
            return false;
        }
    }
    kind_ = Kind::Iptables;
    checkedState_.reset();
    return true;
}

void QueueRules::Remove() {
    if (kind_ == Kind::None) return;
    RemoveOurs(interface_);
    if (kind_ == Kind::Iptables) TidyMangle(made_);
    kind_ = Kind::None;
    interface_.clear();
}

bool QueueRules::Intact() {
    if (kind_ == Kind::None) return true;
    // Nothing to look at while the ruleset stands as it was when ours was last found whole.
    const bool onNftables = kind_ == Kind::Nftables || IptablesOnNftables();
    const std::optional<std::uint64_t> state =
        onNftables ? std::optional<std::uint64_t>(nft::Generation()) : LegacyMangleState();
    const bool due = !onNftables && ++checksSinceFull_ >= kChecksPerFullCheck;
    if (!due && state && state == checkedState_) return true;
    checksSinceFull_ = 0;
    const std::string name = RulesName(interface_);
    bool intact = true;
    if (kind_ == Kind::Nftables) {
        const auto counts = nft::RulesPerChain(name);
        intact = counts && counts->count(kIncomingChain) != 0 && counts->count(kOutgoingChain) != 0;
    } else {
        std::vector<std::vector<std::string>> checks = {QueueRule(name, queue_)};
        for (const Jump& jump : kJumps) checks.push_back(JumpRule(jump, interface_, name));
        for (auto& check : checks) {
            check.insert(check.begin(), "-C");
            intact = intact && Iptables(check).status == 0;
        }
    }
    checkedState_ = intact ? state : std::nullopt;
    return intact;
}

}  // namespace ndis::nfqueue_media
