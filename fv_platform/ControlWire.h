// Transfers of the control connection's messages (layouts in fv_contract/Wire.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "fv_contract/Wire.h"

namespace fv::wire {

// Blocking whole-buffer transfers on a stream socket; false on error or end of stream.
[[nodiscard]] bool SendAll(int fd, const void* data, std::size_t length);
[[nodiscard]] bool ReceiveAll(int fd, void* data, std::size_t length);

// Requests and replies follow each other within microseconds while a reader drains a ring, and
// a thread that goes to sleep between them costs a wake-up each time (tens of microseconds on a
// virtual machine). So a receiver first watches the socket for this long before it blocks.
inline constexpr unsigned kSpinMicroseconds = 50;
[[nodiscard]] bool ReceiveAllSoon(int fd, void* data, std::size_t length);

// Whole-buffer transfers that give up at a deadline, so that a peer which stops reading or
// answering (a stopped or wedged process) holds the caller no longer than it allows. After
// TimedOut part of the buffer may have gone: the stream is out of step for good.
using Deadline = std::chrono::steady_clock::time_point;
enum class Transfer { Done, Broken, TimedOut };
[[nodiscard]] Transfer SendAllBy(int fd, const void* data, std::size_t length, Deadline deadline);
[[nodiscard]] Transfer ReceiveAllBy(int fd, void* data, std::size_t length, Deadline deadline);
// ReceiveAllBy after watching the socket for kSpinMicroseconds, as ReceiveAllSoon does.
[[nodiscard]] Transfer ReceiveAllSoonBy(int fd, void* data, std::size_t length, Deadline deadline);
// Waits until `fd` has one of `events` (or a hang-up or error) by the deadline.
[[nodiscard]] Transfer WaitReadyBy(int fd, short events, Deadline deadline);

}  // namespace fv::wire
