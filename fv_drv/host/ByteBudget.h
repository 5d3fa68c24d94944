// Bytes that the control connections may hold at once for large requests. Takers are served in
// the order they asked, so that a stream of small takers cannot starve a large one, and each
// owner (a user) has one taker in line at a time, so that one owner's many connections cannot
// keep the others waiting behind them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>

namespace fv::host {

class ByteBudget {
public:
    using Clock = std::chrono::steady_clock;
    explicit ByteBudget(std::size_t capacity) : capacity_(capacity) {}

    // Waits until `bytes` are free and every earlier taker has been served, or until `deadline`
    // passes or the budget is closed; false then, and nothing is taken. More than the capacity
    // is never granted.
    bool Take(std::uint64_t owner, std::size_t bytes, Clock::time_point deadline);
    void Give(std::uint64_t owner, std::size_t bytes);
    // Fails every waiting and later Take until Reopen.
    void Close();
    void Reopen();
    std::size_t InUse();

private:
    const std::size_t capacity_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t used_ = 0;
    bool closed_ = false;
    std::uint64_t nextTicket_ = 0;
    struct Waiter {
        std::uint64_t ticket;
        std::uint64_t owner;
    };
    std::list<Waiter> waiting_;  // in the order they asked
    std::map<std::uint64_t, std::size_t> holding_;  // grants held, by owner

    bool FirstInLine(std::uint64_t ticket, std::uint64_t owner);
};

}  // namespace fv::host
