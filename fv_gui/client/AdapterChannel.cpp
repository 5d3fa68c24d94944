#include "fv_gui/client/AdapterChannel.h"

#include <mutex>
#include <utility>

namespace fv {

void AdapterChannel::Attach(DeviceHandle handle) {
    std::lock_guard guard(lock_);
    handle_ = std::move(handle);
}

void AdapterChannel::Close() {
    std::lock_guard guard(lock_);
    handle_.Close();
}

bool AdapterChannel::Valid() {
    std::lock_guard guard(lock_);
    return handle_.Valid();
}

bool AdapterChannel::Call(std::uint32_t code, const void* input, std::uint32_t inputLength,
                          void* output, std::uint32_t outputLength, std::uint32_t* bytesReturned,
                          std::uint32_t* error) {
    std::lock_guard guard(lock_);
    const bool ok =
        DeviceIoControl(handle_, code, input, inputLength, output, outputLength, bytesReturned);
    if (error != nullptr) *error = GetLastError();
    return ok;
}

}  // namespace fv
