// The search of the range table image.
#pragma once

#include <cstdint>

#include "fv_contract/RangeImage.h"

// -1 below the entry, 0 inside it, +1 above it; 32-bit unsigned arithmetic throughout.
int CompareAddressToRange(std::uint32_t key, const RangeEntry* entry);

// Bisection with a fixed probe order; overlapping entries can hide an address.
const RangeEntry* FindRange(std::uint32_t key, const RangeEntry* entries, std::uint32_t count);
