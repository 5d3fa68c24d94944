// The 12-byte record of one reported packet, as the rings store it and the program reads it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "the records are little-endian images");

enum class PacketDirection : std::uint8_t { Incoming = 0, Outgoing = 1 };

struct PacketEventRecord {
    std::uint32_t remoteAddress;  // network order, as in the IPv4 header
    std::uint16_t firstPort;      // frame bytes 34-35, network order
    std::uint16_t secondPort;     // frame bytes 36-37, network order
    std::uint8_t direction;       // PacketDirection
    std::uint8_t protocol;        // IPv4 protocol byte
    std::uint8_t padding[2];      // never written by the engine
};

static_assert(sizeof(PacketEventRecord) == 12);
static_assert(offsetof(PacketEventRecord, remoteAddress) == 0);
static_assert(offsetof(PacketEventRecord, firstPort) == 4);
static_assert(offsetof(PacketEventRecord, secondPort) == 6);
static_assert(offsetof(PacketEventRecord, direction) == 8);
static_assert(offsetof(PacketEventRecord, protocol) == 9);
static_assert(offsetof(PacketEventRecord, padding) == 10);
