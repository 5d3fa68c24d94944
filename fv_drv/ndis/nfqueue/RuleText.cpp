#include "fv_drv/ndis/nfqueue/RuleText.h"

#include <net/if.h>

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

bool NftablesWord(const std::string& name) {
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
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

std::optional<std::string> NftQueueScript(const std::string& interfaceName, std::uint16_t queue) {
    // An attachable name holds no quote or backslash: between quotes it stays one string,
    // whatever else it holds (';', '#', braces).
    if (!AttachableName(interfaceName)) return std::nullopt;
    const std::string name = RulesName(interfaceName);
    const std::string number = std::to_string(queue);
    const std::string quoted = "\"" + interfaceName + "\"";
    return "add table ip " + name + "; " +
           "add chain ip " + name + " " + kIncomingChain +
           " { type filter hook prerouting priority mangle; policy accept; }; " +
           "add chain ip " + name + " " + kOutgoingChain +
           " { type filter hook postrouting priority mangle; policy accept; }; " +
           "add rule ip " + name + " " + kIncomingChain + " iifname " + quoted + " queue num " +
           number + " bypass; " +
           "add rule ip " + name + " " + kOutgoingChain + " oifname " + quoted + " queue num " +
           number + " bypass";
}

std::vector<std::string> IptablesQueueRule(const std::string& interfaceName, std::uint16_t queue) {
    return {RulesName(interfaceName), "-j", "NFQUEUE", "--queue-num", std::to_string(queue),
            "--queue-bypass"};
}

std::vector<std::string> IptablesJump(const Jump& jump, const std::string& interfaceName) {
    // The option takes the next argument whole, even one that starts with '-'.
    return {jump.hook, jump.side, interfaceName, "-j", RulesName(interfaceName)};
}

}  // namespace ndis::nfqueue_media
