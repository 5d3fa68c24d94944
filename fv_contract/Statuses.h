// The statuses a control request completes with, as the program sees them.
#pragma once

#include <cstdint>

using NTSTATUS = std::uint32_t;

inline constexpr NTSTATUS STATUS_SUCCESS = 0x00000000;
inline constexpr NTSTATUS STATUS_DEVICE_BUSY = 0x80000011;
inline constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = 0x80000005;
inline constexpr NTSTATUS STATUS_NO_MORE_ENTRIES = 0x8000001A;
inline constexpr NTSTATUS STATUS_UNSUCCESSFUL = 0xC0000001;
inline constexpr NTSTATUS STATUS_INVALID_HANDLE = 0xC0000008;
inline constexpr NTSTATUS STATUS_INVALID_PARAMETER = 0xC000000D;
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_REQUEST = 0xC0000010;
inline constexpr NTSTATUS STATUS_ACCESS_DENIED = 0xC0000022;
inline constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = 0xC0000023;
inline constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034;
inline constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = 0xC000009A;
inline constexpr NTSTATUS STATUS_DEVICE_NOT_READY = 0xC00000A3;
inline constexpr NTSTATUS STATUS_NOT_SUPPORTED = 0xC00000BB;
inline constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = 0xC0000184;
inline constexpr NTSTATUS STATUS_INVALID_BUFFER_SIZE = 0xC0000206;

// Success, informational and warning statuses (0x8xxxxxxx) carry data back; errors do not.
constexpr bool StatusReturnsData(NTSTATUS status) {
    return (status >> 30) != 3;
}
