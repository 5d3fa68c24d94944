// The control connection's wire format, shared by the driver host and its clients. All integers
// are little-endian. A connection is one handle: it opens with a hello that carries the opener's
// named events as descriptors, then carries requests and replies one at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fv::wire {

inline constexpr std::uint32_t kHelloMagic = 0x5046564F;  // "OVFP"
inline constexpr std::uint32_t kMaxNamedEvents = 64;
inline constexpr std::uint32_t kMaxEventNameLength = 256;
// Input larger than this closes the connection. Output buffers have the same bound.
inline constexpr std::uint32_t kMaxBufferLength = 64u << 20;

inline constexpr std::uint32_t kStatusSuccess = 0;
inline constexpr std::uint32_t kStatusAccessDenied = 0xC0000022;

// Success, informational and warning statuses (0x8xxxxxxx) return data; errors do not.
constexpr bool ReturnsData(std::uint32_t status) {
    return (status >> 30) != 3;
}

struct RequestHeader {
    std::uint32_t code;
    std::uint32_t inputLength;
    std::uint32_t outputLength;
};
struct ReplyHeader {
    std::uint32_t status;
    std::uint32_t information;
    std::uint32_t returned;
};
static_assert(sizeof(RequestHeader) == 12 && sizeof(ReplyHeader) == 12);

// Blocking whole-buffer transfers on a stream socket; false on error or end of stream.
bool SendAll(int fd, const void* data, std::size_t length);
bool ReceiveAll(int fd, void* data, std::size_t length);

// Requests and replies follow each other within microseconds while a reader drains a ring, and
// a thread that goes to sleep between them costs a wake-up each time (tens of microseconds on a
// virtual machine). So a receiver first watches the socket for this long before it blocks.
inline constexpr unsigned kSpinMicroseconds = 50;
bool ReceiveAllSoon(int fd, void* data, std::size_t length);

}  // namespace fv::wire
