#include "fv_drv/ndis/ndis_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace {

struct TagBook {
    std::mutex lock;
    std::map<ULONG, int> failures;
    std::map<ULONG, long> outstanding;
    std::map<ULONG, int> fills;
};

TagBook& Book() {
    static TagBook book;
    return book;
}

// Each allocation carries its tag in front so that the free can account for it.
struct alignas(16) AllocationHeader {
    ULONG tag;
};

}  // namespace

NDIS_STATUS NdisAllocateMemoryWithTag(PVOID* virtualAddress, UINT length, ULONG tag) {
    *virtualAddress = nullptr;
    int fill = -1;
    {
        TagBook& book = Book();
        std::lock_guard guard(book.lock);
        auto it = book.failures.find(tag);
        if (it != book.failures.end() && it->second > 0) {
            --it->second;
            return NDIS_STATUS_FAILURE;
        }
        ++book.outstanding[tag];
        auto f = book.fills.find(tag);
        fill = f != book.fills.end() ? f->second : -1;
    }
    void* raw = std::malloc(sizeof(AllocationHeader) + length);
    if (raw == nullptr) {
        std::lock_guard guard(Book().lock);
        --Book().outstanding[tag];
        return NDIS_STATUS_FAILURE;
    }
    auto* header = static_cast<AllocationHeader*>(raw);
    header->tag = tag;
    *virtualAddress = header + 1;
    if (fill >= 0) std::memset(*virtualAddress, fill, length);
    return NDIS_STATUS_SUCCESS;
}

void NdisFreeMemory(PVOID virtualAddress, UINT, UINT) {
    if (virtualAddress == nullptr) return;
    auto* header = static_cast<AllocationHeader*>(virtualAddress) - 1;
    {
        std::lock_guard guard(Book().lock);
        --Book().outstanding[header->tag];
    }
    std::free(header);
}

void NdisZeroMemory(PVOID destination, ULONG length) { std::memset(destination, 0, length); }

void NdisMoveMemory(PVOID destination, const void* source, ULONG length) {
    std::memmove(destination, source, length);
}

namespace ndis::test {

void FailAllocations(ULONG tag, int count) {
    std::lock_guard guard(Book().lock);
    Book().failures[tag] = count;
}

void FillAllocations(ULONG tag, int byte) {
    std::lock_guard guard(Book().lock);
    if (byte < 0) {
        Book().fills.erase(tag);
    } else {
        Book().fills[tag] = byte;
    }
}

long OutstandingAllocations(ULONG tag) {
    std::lock_guard guard(Book().lock);
    auto it = Book().outstanding.find(tag);
    return it == Book().outstanding.end() ? 0 : it->second;
}

}  // namespace ndis::test
