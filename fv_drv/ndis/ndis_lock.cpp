#include "fv_drv/ndis/ndis_lock.h"

#include <sched.h>

namespace ndis::detail {

void SpinUntilFree(std::atomic<bool>& locked) {
    constexpr int kSpinsBeforeYield = 64;
    int spins = 0;
    while (locked.load(std::memory_order_relaxed)) {
        if (++spins < kSpinsBeforeYield) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        } else {
            sched_yield();
        }
    }
}

}  // namespace ndis::detail
