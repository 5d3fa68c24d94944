// Waiting on one or several objects, with WaitForMultipleObjects' rules: when several are
// signalled the lowest index wins, and only that object's signal is consumed.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "fv_platform/Event.h"

namespace fv {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// Returns kWaitObject0 + index, kWaitTimeout or kWaitFailed. `timeoutMs` may be kInfinite.
std::uint32_t WaitForObjects(std::span<Waitable* const> objects, std::uint32_t timeoutMs);
std::uint32_t WaitForObjects(std::initializer_list<Waitable*> objects, std::uint32_t timeoutMs);
std::uint32_t WaitForObject(Waitable& object, std::uint32_t timeoutMs);

}  // namespace fv
