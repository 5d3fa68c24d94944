#include "fv_drv/host/ByteBudget.h"

#include <algorithm>

namespace fv::host {

// The first waiter whose owner holds nothing and has no earlier waiter.
bool ByteBudget::FirstInLine(std::uint64_t ticket, std::uint64_t owner) {
    for (auto w = waiting_.begin(); w != waiting_.end(); ++w) {
        const auto held = holding_.find(w->owner);
        if (held != holding_.end() && held->second != 0) continue;
        const bool earlierOfSameOwner = std::any_of(
            waiting_.begin(), w, [&](const Waiter& e) { return e.owner == w->owner; });
        if (earlierOfSameOwner) continue;
        return w->ticket == ticket && w->owner == owner;
    }
    return false;
}

bool ByteBudget::Take(std::uint64_t owner, std::size_t bytes, Clock::time_point deadline) {
    std::unique_lock guard(lock_);
    if (bytes > capacity_ || closed_) return false;
    const std::uint64_t ticket = nextTicket_++;
    waiting_.push_back({ticket, owner});
    const auto mine = std::prev(waiting_.end());
    const bool granted = changed_.wait_until(guard, deadline, [&] {
        return closed_ || (capacity_ - used_ >= bytes && FirstInLine(ticket, owner));
    }) && !closed_;
    waiting_.erase(mine);
    if (granted) {
        used_ += bytes;
        ++holding_[owner];
    }
    // The next in line may fit now, or may have been waiting behind this one.
    changed_.notify_all();
    return granted;
}

void ByteBudget::Give(std::uint64_t owner, std::size_t bytes) {
    {
        std::lock_guard guard(lock_);
        used_ -= std::min(bytes, used_);
        const auto held = holding_.find(owner);
        if (held != holding_.end() && --held->second == 0) holding_.erase(held);
    }
    changed_.notify_all();
}

void ByteBudget::Close() {
    {
        std::lock_guard guard(lock_);
        closed_ = true;
    }
    changed_.notify_all();
}

void ByteBudget::Reopen() {
    std::lock_guard guard(lock_);
    closed_ = false;
}

std::size_t ByteBudget::InUse() {
    std::lock_guard guard(lock_);
    return used_;
}

}  // namespace fv::host
