// The session's adapter handle, shared by the window thread and both drainers. A connection
// carries one request at a time, so requests from different threads take turns here, as they do
// on a synchronous handle. Closing never waits for a request in flight: the thread that made it
// closes the handle when the request returns.
#pragma once

#include <atomic>
#include <cstdint>

#include "fv_platform/DeviceClient.h"
#include "fv_platform/RecursiveMutex.h"

namespace fv {

class AdapterChannel {
public:
    // Takes over `handle`, closing the one held before.
    void Attach(DeviceHandle handle);
    void Close();
    bool Valid() const { return valid_.load(); }

    // DeviceIoControl on the held handle; fails with ERROR_INVALID_HANDLE once closed.
    [[nodiscard]] bool Call(std::uint32_t code, const void* input, std::uint32_t inputLength, void* output,
              std::uint32_t outputLength, std::uint32_t* bytesReturned);

private:
    // With the request lock held.
    void CloseHeld();

    RecursiveMutex requestLock_;
    DeviceHandle handle_;
    std::atomic<bool> closing_{false};
    std::atomic<bool> valid_{false};
};

}  // namespace fv
