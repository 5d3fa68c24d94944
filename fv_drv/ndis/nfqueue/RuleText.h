// The text of our rules, built from an interface's name: the one place where a name that
// whoever made the interface chose becomes part of a rule. Free of the system, so that what
// reaches nft and iptables can be checked without running them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ndis::nfqueue_media {

// Printable, short enough for an interface, and free of what quotes or matches patterns in rules.
bool AttachableName(const std::string& interfaceName);

// iptables takes chain names of at most this many characters.
inline constexpr std::size_t kMaxRulesName = 28;

// The name of our nftables table and of our iptables chain for an attachable interface name:
// no longer than kMaxRulesName, a word to nft, and different for every interface.
std::string RulesName(const std::string& interfaceName);

// Our nftables table's chains, one a direction.
inline constexpr const char* kIncomingChain = "incoming";
inline constexpr const char* kOutgoingChain = "outgoing";

// One nft command line, and so one transaction, that makes our table for the interface and
// queues its IPv4 traffic both ways to `queue`, passing it while nobody reads. None for a name
// that is not attachable: it never becomes part of a script.
std::optional<std::string> NftQueueScript(const std::string& interfaceName, std::uint16_t queue);

// Where iptables' mangle table jumps to our chain: the hook's base chain, and the option that
// matches the interface on that side.
struct Jump {
    const char* hook;
    const char* side;
};
inline constexpr Jump kJumps[] = {{"PREROUTING", "-i"}, {"POSTROUTING", "-o"}};

// iptables rules as the arguments that follow a command (-A, -C, -D): the one rule of our
// chain, and a jump to it. Each argument goes to iptables as it is, never through a shell.
std::vector<std::string> IptablesQueueRule(const std::string& interfaceName, std::uint16_t queue);
std::vector<std::string> IptablesJump(const Jump& jump, const std::string& interfaceName);

}  // namespace ndis::nfqueue_media
