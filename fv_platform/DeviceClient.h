// The program's side of the control device: open a handle, send device-control requests,
// close. Results and errors follow CreateFile and DeviceIoControl.
#pragma once

#include <cstdint>
#include <string>

#include "fv_platform/UniqueFd.h"

namespace fv {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorBadCommand = 22;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorSemTimeout = 121;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorBusy = 170;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;
inline constexpr std::uint32_t kErrorNoSystemResources = 1450;

// How long an open (its hello answered) or one request (its reply read whole) may take. A
// device that stops answering fails the call with ERROR_SEM_TIMEOUT instead of holding the
// caller, and the handle is finished: its stream is out of step with the requests.
inline constexpr int kDeviceTimeoutMs = 3000;

// The calling thread's last error, as GetLastError.
std::uint32_t GetLastError();
void SetLastError(std::uint32_t error);
// The Win32 error a driver status stands for.
std::uint32_t ErrorFromStatus(std::uint32_t status);

class DeviceHandle {
public:
    DeviceHandle() = default;
    DeviceHandle(DeviceHandle&& other) noexcept;
    DeviceHandle& operator=(DeviceHandle&& other) noexcept;
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    ~DeviceHandle();

    bool Valid() const { return fd_.Valid(); }
    void Close();

private:
    // Closes at once, without waiting for the device: for a stream that is out of step.
    void Abandon() { fd_.Reset(); }

    friend DeviceHandle OpenDevice(const std::string& path);
    friend bool DeviceIoControl(DeviceHandle& handle, std::uint32_t code, const void* input,
                                std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                                std::uint32_t* bytesReturned);
    UniqueFd fd_;
};

// Connects to the device socket at `path` carrying the process's named events. Invalid on
// failure, with the last error set (ERROR_ACCESS_DENIED when the device refuses the caller).
DeviceHandle OpenDevice(const std::string& path);

// True on success. A warning status returns its data and false (ERROR_MORE_DATA for a buffer
// overflow), an error status false; the last error tells which. `bytesReturned` may be null.
bool DeviceIoControl(DeviceHandle& handle, std::uint32_t code, const void* input,
                     std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                     std::uint32_t* bytesReturned);

}  // namespace fv
