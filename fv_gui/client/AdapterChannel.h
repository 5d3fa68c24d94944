// The session's adapter handle, shared by the window thread and both drainers. A connection
// carries one request at a time, so requests from different threads take turns here, as they do
// on a synchronous handle.
#pragma once

#include <cstdint>

#include "fv_platform/DeviceClient.h"
#include "fv_platform/Mutex.h"

namespace fv {

class AdapterChannel {
public:
    // Takes over `handle`, closing the one held before.
    void Attach(DeviceHandle handle);
    void Close();
    bool Valid();

    // DeviceIoControl on the held handle. Also returns the thread's last error in `error`,
    // read before the turn ends.
    bool Call(std::uint32_t code, const void* input, std::uint32_t inputLength, void* output,
              std::uint32_t outputLength, std::uint32_t* bytesReturned,
              std::uint32_t* error = nullptr);

private:
    Mutex lock_;
    DeviceHandle handle_;
};

}  // namespace fv
