// The adapters the driver is bound to: the binding list, each lower adapter's vendor
// description, medium and hardware address, and the ordered list the adapter selector shows.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fv_platform/DeviceClient.h"

namespace fv {

// IOCTL_ENUM_BINDINGS' output buffer.
inline constexpr std::uint32_t kBindingListBufferSize = 4096;
// Output buffers of the adapter queries.
inline constexpr std::uint32_t kVendorDescriptionBufferSize = 512;
inline constexpr std::uint32_t kOidBufferSize = 4096;
inline constexpr std::uint32_t kHardwareAddressLength = 6;

struct AdapterInfo {
    std::string vendorDescription;
    std::string virtualDeviceName;
    std::string lowerDeviceName;  // the key, and the value of the SelectedAdapter setting
    std::string mediumName;
    std::string hardwareAddress;
};

// Keyed by lower device name, in the names' byte order.
using AdapterList = std::map<std::string, AdapterInfo>;

// The name of an NDIS medium number; "Unknown" past the table.
const char* MediumName(std::uint32_t medium);
// Six bytes as "00-0C-29-AB-CD-EF".
std::string FormatHardwareAddress(std::span<const std::uint8_t, kHardwareAddressLength> bytes);

// The (virtual, lower) name pairs of a binding list as the driver returned it: `returned` bytes.
// Strings end at their NUL or at the end of the data, whichever comes first; a virtual name
// without a lower name after it, and everything after the first empty string, are ignored.
std::vector<std::pair<std::u16string, std::u16string>> ParseBindingList(const std::uint8_t* data,
                                                                       std::uint32_t returned);

// Fills the vendor description, medium name and hardware address of `entry` through `adapter`,
// a handle bound to it. Returns 0 or the error of the first failed query; what was obtained
// before it stays.
std::uint32_t QueryAdapterDetails(DeviceHandle& adapter, AdapterInfo& entry);

// Adds every bound adapter that opens to `list` (replacing entries of the same name, removing
// none). False only when the binding list cannot be read.
bool EnumerateAdapters(AdapterList& list);

}  // namespace fv
