// Transfers of the control connection's messages (layouts in fv_drv/contract/Wire.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "fv_drv/contract/Wire.h"

namespace fv::wire {

// Blocking whole-buffer transfers on a stream socket; false on error or end of stream.
[[nodiscard]] bool SendAll(int fd, const void* data, std::size_t length);
[[nodiscard]] bool ReceiveAll(int fd, void* data, std::size_t length);

// Requests and replies follow each other within microseconds while a reader drains a ring, and
// a thread that goes to sleep between them costs a wake-up each time (tens of microseconds on a
// virtual machine). So a receiver first watches the socket for this long before it blocks.
inline constexpr unsigned kSpinMicroseconds = 50;
[[nodiscard]] bool ReceiveAllSoon(int fd, void* data, std::size_t length);

}  // namespace fv::wire
