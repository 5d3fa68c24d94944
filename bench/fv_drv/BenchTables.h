// The tables the driver benchmarks decide over, as upload images.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "fv_drv/Driver/RangeTable.h"

namespace fv::bench {

// `count` sorted, disjoint ranges covering half of the address space, the same on every run.
inline std::vector<std::uint8_t> HalfTheSpace(std::uint32_t count) {
    std::vector<std::uint8_t> image(RangeTableImageSize(count), 0);
    std::memcpy(image.data(), &count, sizeof count);
    auto* entries = reinterpret_cast<RangeEntry*>(image.data() + sizeof(RangeTable));
    std::mt19937 rng(7);
    const std::uint32_t stride = std::uint32_t((1ull << 32) / count);
    for (std::uint32_t i = 0; i < count; ++i) {
        entries[i] = {i * stride + std::uint32_t(rng() % (stride / 2)), stride / 2 - 1};
    }
    return image;
}

// An address nobody uses (198.51.100.1, for documentation): with it alone in the table,
// filtering is on and nothing is blocked.
inline constexpr std::uint32_t kUnusedAddress = 0xC6336401;

// A table of the one address.
inline std::vector<std::uint8_t> OneAddress(std::uint32_t address) {
    const std::uint32_t count = 1;
    const RangeEntry entry{address, 0};
    std::vector<std::uint8_t> image(RangeTableImageSize(count), 0);
    std::memcpy(image.data(), &count, sizeof count);
    std::memcpy(image.data() + sizeof(RangeTable), &entry, sizeof entry);
    return image;
}

inline const RangeTable* AsTable(const std::vector<std::uint8_t>& image) {
    return reinterpret_cast<const RangeTable*>(image.data());
}

}  // namespace fv::bench
