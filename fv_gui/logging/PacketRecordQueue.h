// Two first-in, first-out queues between the drainer threads and the notification threads:
// blocked views and granted records, each under its own mutex. Storage grows as needed and is
// kept and reused; it is freed only with the object.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>

#include "fv_contract/PacketEventRecord.h"
#include "fv_gui/logging/BlockedPacketView.h"

namespace fv {

// A growable ring of trivially copyable elements; not locked.
template <typename T>
class RecordRing {
public:
    void Push(const T& element) {
        if (size_ == capacity_) Grow();
        storage_[(head_ + size_) & (capacity_ - 1)] = element;
        ++size_;
    }
    bool Pop(T& out) {
        if (size_ == 0) return false;
        out = storage_[head_];
        head_ = (head_ + 1) & (capacity_ - 1);
        --size_;
        return true;
    }
    void Clear() {
        head_ = 0;
        size_ = 0;
    }
    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return capacity_; }

private:
    void Grow() {
        const std::size_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
        std::unique_ptr<T[]> storage(new T[capacity]);
        for (std::size_t i = 0; i < size_; ++i) storage[i] = storage_[(head_ + i) & (capacity_ - 1)];
        storage_ = std::move(storage);
        capacity_ = capacity;
        head_ = 0;
    }

    std::unique_ptr<T[]> storage_;
    std::size_t capacity_ = 0;  // 0 or a power of two
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

class PacketRecordQueue {
public:
    void PushBlocked(const BlockedPacketView& view) {
        std::lock_guard lock(blockedLock_);
        blocked_.Push(view);
    }
    void PushGranted(const PacketEventRecord& record) {
        std::lock_guard lock(grantedLock_);
        granted_.Push(record);
    }
    // False, leaving `view` unchanged, when the queue is empty.
    bool PopBlocked(BlockedPacketView& view) {
        std::lock_guard lock(blockedLock_);
        return blocked_.Pop(view);
    }
    bool PopGranted(PacketEventRecord& record) {
        std::lock_guard lock(grantedLock_);
        return granted_.Pop(record);
    }
    void ClearBlocked() {
        std::lock_guard lock(blockedLock_);
        blocked_.Clear();
    }
    void ClearGranted() {
        std::lock_guard lock(grantedLock_);
        granted_.Clear();
    }
    std::size_t BlockedCapacity() {
        std::lock_guard lock(blockedLock_);
        return blocked_.Capacity();
    }
    std::size_t GrantedCapacity() {
        std::lock_guard lock(grantedLock_);
        return granted_.Capacity();
    }

private:
    std::mutex blockedLock_;
    std::mutex grantedLock_;
    RecordRing<BlockedPacketView> blocked_;
    RecordRing<PacketEventRecord> granted_;
};

}  // namespace fv
