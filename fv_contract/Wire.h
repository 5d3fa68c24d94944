// The control connection's wire format. All integers are little-endian. A connection is one
// handle: it opens with a hello that carries the opener's named events as descriptors, then
// carries requests and replies one at a time.
#pragma once

#include <cstdint>

#include "fv_contract/Statuses.h"

namespace fv::wire {

// Hello: magic, count, then `count` entries {u32 length, name bytes}; the same message carries
// `count` eventfds in entry order. The answer is one u32 status.
inline constexpr std::uint32_t kHelloMagic = 0x5046564F;  // "OVFP"
inline constexpr std::uint32_t kMaxNamedEvents = 64;
inline constexpr std::uint32_t kMaxEventNameLength = 256;
// Input larger than this closes the connection. Output buffers have the same bound.
inline constexpr std::uint32_t kMaxBufferLength = 64u << 20;

struct RequestHeader {
    std::uint32_t code;
    std::uint32_t inputLength;
    std::uint32_t outputLength;
};
// `returned` bytes follow: the first min(information, outputLength) bytes of the output buffer
// when the status returns data, else none.
struct ReplyHeader {
    std::uint32_t status;
    std::uint32_t information;
    std::uint32_t returned;
};
static_assert(sizeof(RequestHeader) == 12 && sizeof(ReplyHeader) == 12);

}  // namespace fv::wire
