#pragma once

#include <cstdint>

namespace fv {

// Milliseconds since boot in 32 bits; wraps after about 49.7 days, so compare by difference.
std::uint32_t TickCount();

}  // namespace fv
