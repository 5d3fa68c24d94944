// The program's handles on the driver's control device: driver-wide handles, handles bound to
// one adapter, and the adapter queries sent through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fv_platform/DeviceClient.h"

namespace fv {

// An adapter name goes to the driver as UTF-16 in a buffer of this many units, NUL included.
inline constexpr std::size_t kAdapterNameUnits = 260;
// IOCTL_OPEN_ADAPTER's output: a 32-bit word the driver may set to an error code.
inline constexpr std::uint32_t kOpenAdapterWordSize = sizeof(std::uint32_t);

// $FERROVANE_DEVICE_DIR, or the default device folder.
std::string DeviceDirectory();

// A driver-wide handle: "<dir>/Ferrovane", and when that does not open "<dir>/Globals/Ferrovane".
// Invalid when neither opens; the last error is then the first name's unless the second exists.
DeviceHandle OpenControlDevice();

// A control handle bound to the lower adapter `name` (UTF-8). Invalid when the name is not
// valid UTF-8 or needs more than kAdapterNameUnits - 1 units, when the device does not open, or
// when the driver refuses; the thread's last error then tells why.
DeviceHandle OpenAdapterHandle(std::string_view name);

// Sends IOCTL_QUERY_OID for `oid`. Returns 0 or the thread's last error; `returned` is preset
// to 0.
std::uint32_t QueryOid(DeviceHandle& handle, std::uint32_t oid, void* output,
                       std::uint32_t outputSize, std::uint32_t* returned);

// UTF-8 to UTF-16; none for malformed input.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8; an unpaired surrogate becomes '?'.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace fv
