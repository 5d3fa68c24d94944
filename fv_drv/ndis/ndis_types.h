// Basic NDIS and kernel types and status codes of the NDIS stand-in.
#pragma once

#include "fv_contract/Statuses.h"

#include <cstddef>
#include <cstdint>

using UCHAR = std::uint8_t;
using USHORT = std::uint16_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using ULONGLONG = std::uint64_t;
using BOOLEAN = std::uint8_t;
using PVOID = void*;
using PUCHAR = UCHAR*;
using PUINT = UINT*;
using PULONG = ULONG*;
using WCHAR = char16_t;
using KPRIORITY = LONG;
using INT = int;
using ULONG_PTR = std::uintptr_t;
using PWSTR = WCHAR*;
using NDIS_HANDLE = void*;
using PNDIS_HANDLE = NDIS_HANDLE*;
using HANDLE = void*;
using PHANDLE = HANDLE*;

inline constexpr BOOLEAN TRUE = 1;
inline constexpr BOOLEAN FALSE = 0;

using NDIS_STATUS = std::uint32_t;
using PNDIS_STATUS = NDIS_STATUS*;

inline constexpr NDIS_STATUS NDIS_STATUS_SUCCESS = 0x00000000;
inline constexpr NDIS_STATUS NDIS_STATUS_PENDING = 0x00000103;
inline constexpr NDIS_STATUS NDIS_STATUS_NOT_RECOGNIZED = 0x00010001;
inline constexpr NDIS_STATUS NDIS_STATUS_NOT_ACCEPTED = 0x00010003;
inline constexpr NDIS_STATUS NDIS_STATUS_MEDIA_CONNECT = 0x4001000B;
inline constexpr NDIS_STATUS NDIS_STATUS_MEDIA_DISCONNECT = 0x4001000C;
inline constexpr NDIS_STATUS NDIS_STATUS_BUFFER_OVERFLOW = 0x80000005;
inline constexpr NDIS_STATUS NDIS_STATUS_FAILURE = 0xC0000001;
inline constexpr NDIS_STATUS NDIS_STATUS_RESOURCES = 0xC000009A;
inline constexpr NDIS_STATUS NDIS_STATUS_NOT_SUPPORTED = 0xC00000BB;
inline constexpr NDIS_STATUS NDIS_STATUS_CLOSING = 0xC0010002;
inline constexpr NDIS_STATUS NDIS_STATUS_ADAPTER_NOT_FOUND = 0xC0010006;
inline constexpr NDIS_STATUS NDIS_STATUS_ADAPTER_NOT_READY = 0xC0010011;
inline constexpr NDIS_STATUS NDIS_STATUS_INVALID_LENGTH = 0xC0010014;
inline constexpr NDIS_STATUS NDIS_STATUS_INVALID_DATA = 0xC0010015;
inline constexpr NDIS_STATUS NDIS_STATUS_BUFFER_TOO_SHORT = 0xC0010016;
inline constexpr NDIS_STATUS NDIS_STATUS_UNSUPPORTED_MEDIA = 0xC001001E;


inline constexpr ULONG IO_NO_INCREMENT = 0;

// Counted UTF-16 strings; Length and MaximumLength are in bytes.
struct UNICODE_STRING {
    USHORT Length = 0;
    USHORT MaximumLength = 0;
    PWSTR Buffer = nullptr;
};
using PUNICODE_STRING = UNICODE_STRING*;
using NDIS_STRING = UNICODE_STRING;
using PNDIS_STRING = NDIS_STRING*;

// Points `string` at a NUL-terminated literal; the literal must outlive the string.
void NdisInitUnicodeString(PNDIS_STRING string, const WCHAR* source);

// The record of type `Type` whose member `Field` lies at `address`.
#define CONTAINING_RECORD(address, Type, Field) \
    (reinterpret_cast<Type*>(reinterpret_cast<char*>(address) - offsetof(Type, Field)))
