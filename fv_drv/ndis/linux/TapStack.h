// The host's IP stack as the protocol above a virtual adapter: frames the stack writes into the
// TAP device are sent through the virtual adapter, and what the adapter indicates up is written
// into the TAP for the stack to receive. The virtual adapter's media state becomes the TAP's
// carrier. One thread reads the TAP.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fv_drv/ndis/linux/LinuxLink.h"
#include "fv_platform/UniqueFd.h"
#include "fv_drv/ndis/ndis_media.h"

namespace ndis::linux_media {

class TapStack final : public ndis::media::UpperProtocol {
public:
    TapStack();
    ~TapStack();

    // Creates the TAP named as the virtual adapter and attaches to the adapter.
    bool Start(const std::string& name, const MacAddress& mac, int mtu, bool carrier,
               std::string& error);
    // Detaches and removes the TAP.
    void Stop();
    // Called after each batch of frames is handed down (set before Start).
    void OnBatchSent(std::function<void()> callback) { batchSent_ = std::move(callback); }
    // Called by the reader after it has sent everything waiting (set before Start).
    void OnDrained(std::function<void()> callback) { drained_ = std::move(callback); }
    // Sends what the TAP already holds, unless the reader is at it. The receive side calls it
    // after its writes, which often make the stack answer at once (an acknowledgement): the
    // answer goes down without waiting for the reader to wake.
    void PollSend();

    std::uint64_t FramesSent() const { return sent_.load(); }
    std::uint64_t FramesReceived() const { return received_.load(); }

    // ndis::media::UpperProtocol
    NDIS_UPPER_PROTOCOL_OVERRIDES;

private:
    struct Slot;  // a descriptor with the frame storage it describes
    Slot* TakeSlot();
    void ReadLoop();
    // Sends everything waiting in the TAP, in batches; call with readLock_ held.
    void SendWaiting();
    void SetCarrier(bool on);

    TapPort tap_;
    fv::UniqueFd stopFd_;
    std::thread reader_;
    std::atomic<NDIS_HANDLE> adapter_{nullptr};
    NDIS_HANDLE pool_ = nullptr;

    std::mutex slotLock_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<Slot*> free_;

    std::mutex writeLock_;  // receive paths share one buffer; guards the TAP against its close
    std::vector<std::uint8_t> writeBuffer_;
    std::function<void()> batchSent_;
    std::function<void()> drained_;
    std::mutex readLock_;  // one thread at a time reads the TAP, so frames go down in order
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<std::uint64_t> received_{0};
};

}  // namespace ndis::linux_media
