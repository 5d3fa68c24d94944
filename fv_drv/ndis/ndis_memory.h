// Non-paged pool allocations with tags. Tests can make allocations with a given tag fail.
#pragma once

#include "fv_drv/ndis/ndis_types.h"

// Tags are four characters read as a little-endian 32-bit value, as in the kernel.
constexpr ULONG MakePoolTag(const char (&t)[5]) {
    return ULONG(UCHAR(t[0])) | ULONG(UCHAR(t[1])) << 8 | ULONG(UCHAR(t[2])) << 16 |
           ULONG(UCHAR(t[3])) << 24;
}

NDIS_STATUS NdisAllocateMemoryWithTag(PVOID* virtualAddress, UINT length, ULONG tag);
void NdisFreeMemory(PVOID virtualAddress, UINT length, UINT memoryFlags);
void NdisZeroMemory(PVOID destination, ULONG length);
void NdisMoveMemory(PVOID destination, const void* source, ULONG length);

namespace ndis::test {
// The next `count` allocations carrying `tag` fail with NDIS_STATUS_FAILURE.
void FailAllocations(ULONG tag, int count);
// New allocations carrying `tag` come filled with `byte` (pool memory is not cleared); a negative
// value stops it.
void FillAllocations(ULONG tag, int byte);
// Outstanding allocations per tag, for leak checks.
long OutstandingAllocations(ULONG tag);
}  // namespace ndis::test
