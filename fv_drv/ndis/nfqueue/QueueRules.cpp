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
#include "fv_platform/UniqueFd.h"

namespace ndis::nfqueue_media {
namespace {

// Jumps to our chain that a run may have left behind, at most.
constexpr int kMaxStaleJumps = 64;

constexpr const char* kMangle = "mangle";
// Without a generation to watch (legacy iptables), the full check still runs this often.
constexpr int kChecksPerFullCheck = 30;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
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
            std::vector<std::string> args = IptablesJump(jump, interfaceName);
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

void QueueRules::RemoveLeftovers(const std::string& interfaceName) {
    // Who made mangle's chains is not known after a crash: whatever of them stands empty goes.
    if (RemoveOurs(interfaceName)) TidyMangle({true, true, true});
    // A run whose iptables was the legacy kind queued the same packets from there.
    RemoveChain(interfaceName, LegacyIptablesBeside);
}

bool QueueRules::Install(const std::string& interfaceName, std::uint16_t queue,
                         std::string& error) {
    Remove();
    const std::optional<std::string> script = NftQueueScript(interfaceName, queue);
    if (!script) {
        error = "cannot attach to an interface named " + interfaceName;
        return false;
    }
    interface_ = interfaceName;
    queue_ = queue;
    RemoveLeftovers(interfaceName);
    const std::string name = RulesName(interfaceName);

    // One nft command line is one transaction: without the queue expression nothing stays.
    const ToolResult nft = RunTool("nft", {*script});
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
    std::vector<std::vector<std::string>> steps = {{"-N", name},
                                                   IptablesQueueRule(interfaceName, queue)};
    steps[1].insert(steps[1].begin(), "-A");
    for (const Jump& jump : kJumps) {
        steps.push_back(IptablesJump(jump, interfaceName));
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
        std::vector<std::vector<std::string>> checks = {IptablesQueueRule(interface_, queue_)};
        for (const Jump& jump : kJumps) checks.push_back(IptablesJump(jump, interface_));
        for (auto& check : checks) {
            check.insert(check.begin(), "-C");
            intact = intact && Iptables(check).status == 0;
        }
    }
    checkedState_ = intact ? state : std::nullopt;
    return intact;
}

}  // namespace ndis::nfqueue_media
