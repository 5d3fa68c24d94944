#include "fv_drv/ndis/nfqueue/Verdicts.h"

namespace ndis::nfqueue_media {

std::vector<VerdictMessage> PlanVerdicts(std::span<const Decision> decisions) {
    std::vector<VerdictMessage> messages;
    bool increasing = true;
    for (std::size_t i = 1; i < decisions.size() && increasing; ++i) {
        increasing = IdAfter(decisions[i].id, decisions[i - 1].id);
    }
    if (!increasing) {
        for (const Decision& d : decisions) messages.push_back({d.id, d.verdict, false});
        return messages;
    }
    // Drops first: a covering accept sent before them would let them through.
    const Decision* lastAccepted = nullptr;
    for (const Decision& d : decisions) {
        if (d.verdict == Verdict::Drop) {
            messages.push_back({d.id, Verdict::Drop, false});
        } else {
            lastAccepted = &d;
        }
    }
    if (lastAccepted == nullptr) return messages;
    // A lone accept needs no covering message; the queue answers it the same way.
    const bool single = decisions.size() == 1;
    messages.push_back({lastAccepted->id, Verdict::Accept, !single});
    return messages;
}

}  // namespace ndis::nfqueue_media
