// The verdicts of one batch of queued packets, put into as few messages as the queue allows:
// every drop on its own, then one message accepting everything up to the last accepted packet.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ndis::nfqueue_media {

enum class Verdict : std::uint8_t { Accept, Drop };

struct Decision {
    std::uint32_t id = 0;
    Verdict verdict = Verdict::Accept;
};

struct VerdictMessage {
    std::uint32_t id = 0;
    Verdict verdict = Verdict::Accept;
    // The verdict also covers every packet still queued with an earlier id.
    bool coversEarlier = false;
};

// True when `later` follows `earlier` in the queue's wrapping id sequence.
constexpr bool IdAfter(std::uint32_t later, std::uint32_t earlier) {
    return std::int32_t(later - earlier) > 0;
}

// Messages for `decisions`, given in the order the packets were read. The queue hands out ids
// in increasing order, and every packet before the batch has its verdict already (a batch whose
// messages were not delivered is decided again at the front of the next); ids that do not
// increase get one message each, since a covering verdict would reach past them.
std::vector<VerdictMessage> PlanVerdicts(std::span<const Decision> decisions);

}  // namespace ndis::nfqueue_media
