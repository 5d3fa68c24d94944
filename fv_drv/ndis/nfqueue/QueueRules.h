// The rules that put an interface's IPv4 traffic into a packet queue, both directions, with
// queue bypass: while nobody reads the queue (the daemon stopped or crashed) packets pass.
// Where the kernel has nftables' queue expression they form a table of our own; elsewhere a
// chain of our own in iptables' mangle table, jumped to last from PREROUTING and POSTROUTING,
// so that the user's own rules there still run first. Nothing else is touched. Every rule of
// ours is named after the interface, so that a later run finds and removes the rules of one
// that did not stop cleanly.
#pragma once

#include <cstdint>
#include <string>

#include "fv_platform/UniqueFd.h"

namespace ndis::nfqueue_media {

// Printable, short enough for an interface, and free of what quotes or matches patterns in rules.
bool AttachableName(const std::string& interfaceName);

// The name of our nftables table and of our iptables chain for an interface.
std::string RulesName(const std::string& interfaceName);

class QueueRules {
public:
    enum class Kind { None, Nftables, Iptables };

    QueueRules() = default;
    ~QueueRules() { Remove(); }
    QueueRules(const QueueRules&) = delete;
    QueueRules& operator=(const QueueRules&) = delete;

    // Removes leftovers of an earlier run for the interface, then queues its traffic to `queue`.
    bool Install(const std::string& interfaceName, std::uint16_t queue, std::string& error);
    // Removes what Install added; safe to repeat.
    void Remove();
    Kind Installed() const { return kind_; }

    // Removes every rule of ours for the interface, whoever added it.
    static void RemoveLeftovers(const std::string& interfaceName);

private:
    std::string interface_;
    Kind kind_ = Kind::None;
};

}  // namespace ndis::nfqueue_media
