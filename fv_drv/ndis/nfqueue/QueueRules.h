// The rules that put an interface's IPv4 traffic into a packet queue, both directions, with
// queue bypass: while nobody reads the queue (the daemon stopped or crashed) packets pass.
// Where the kernel has nftables' queue expression they form a table of our own; elsewhere a
// chain of our own in iptables' mangle table, jumped to last from PREROUTING and POSTROUTING,
// so that the user's own rules there still run first. Nothing else is touched. Every rule of
// ours is named after the interface, so that a later run finds and removes the rules of one
// that did not stop cleanly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fv_drv/ndis/nfqueue/RuleText.h"

namespace ndis::nfqueue_media {

// Which parts of the mangle table that iptables on nftables keeps our jumps in.
struct MangleParts {
    bool table = false;
    bool prerouting = false;
    bool postrouting = false;
};

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
    // False when what Install added is no longer all there: someone else removed some of it.
    bool Intact();

    // Removes every rule of ours for the interface, whoever added it.
    static void RemoveLeftovers(const std::string& interfaceName);

private:
    std::string interface_;
    std::uint16_t queue_ = 0;  // for the check
    Kind kind_ = Kind::None;
    // The parts of mangle that were not there before our jumps.
    MangleParts made_;
    // The ruleset's generation (or legacy mangle's size) when ours was last found whole.
    std::optional<std::uint64_t> checkedState_;
    int checksSinceFull_ = 0;
};

}  // namespace ndis::nfqueue_media
