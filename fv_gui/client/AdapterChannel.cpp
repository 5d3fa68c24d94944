#include "fv_gui/client/AdapterChannel.h"

#include <mutex>
#include <utility>

namespace fv {

void AdapterChannel::Attach(DeviceHandle handle) {
    std::lock_guard guard(requestLock_);
    handle_ = std::move(handle);
    closing_.store(false);
    valid_.store(handle_.Valid());
}

void AdapterChannel::CloseHeld() {
    handle_.Close();
    valid_.store(false);
}

void AdapterChannel::Close() {
    closing_.store(true);
    valid_.store(false);
    // Whoever holds the turn sees the flag when its request returns and closes the handle.
    if (requestLock_.TryLock()) {
        CloseHeld();
        requestLock_.Unlock();
    }
}

bool AdapterChannel::Call(std::uint32_t code, const void* input, std::uint32_t inputLength,
                          void* output, std::uint32_t outputLength, std::uint32_t* bytesReturned) {
    std::lock_guard guard(requestLock_);
    if (closing_.load()) {
        CloseHeld();
        if (bytesReturned != nullptr) *bytesReturned = 0;
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    const bool ok =
        DeviceIoControl(handle_, code, input, inputLength, output, outputLength, bytesReturned);
    if (closing_.load()) {
        CloseHeld();
    } else if (!handle_.Valid()) {
        valid_.store(false);  // the connection broke
    }
    return ok;
}

}  // namespace fv
