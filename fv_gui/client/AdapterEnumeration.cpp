#include "fv_gui/client/AdapterEnumeration.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "fv_contract/ControlCodes.h"
#include "fv_contract/Oids.h"
#include "fv_gui/client/DeviceAccess.h"

namespace fv {
namespace {

constexpr const char* kMediumNames[] = {
    "802.3", "802.5", "FDDI", "WAN", "LocalTalk", "DIX", "Arcnet Raw", "Arcnet 878.2", "ATM",
    "Wireless WAN", "Irda", "Bpc", "CoWan", "IEEE 1394 (Firewire)",
};
constexpr const char* kUnknownMedium = "Unknown";

// The text a query returned: up to its first NUL, never past the bytes that came back.
std::string TextOf(const char* buffer, std::uint32_t returned) {
    const void* nul = std::memchr(buffer, '\0', returned);
    return std::string(buffer, nul != nullptr ? static_cast<const char*>(nul) - buffer : returned);
}

}  // namespace

const char* MediumName(std::uint32_t medium) {
    return medium < std::size(kMediumNames) ? kMediumNames[medium] : kUnknownMedium;
}

std::string FormatHardwareAddress(std::span<const std::uint8_t, kHardwareAddressLength> b) {
    char text[3 * kHardwareAddressLength];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return text;
}

std::vector<std::pair<std::u16string, std::u16string>> ParseBindingList(const std::uint8_t* data,
                                                                       std::uint32_t returned) {
    std::vector<std::pair<std::u16string, std::u16string>> pairs;
    // Whole UTF-16 units only; a trailing odd byte belongs to no string.
    std::u16string units(returned / sizeof(char16_t), u'\0');
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    std::u16string_view rest(units);
    auto next = [&rest]() {
        const std::size_t end = rest.find(u'\0');
        const std::u16string_view text = rest.substr(0, end);
        rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
        return text;
    };
    while (!rest.empty()) {
        const std::u16string_view virtualName = next();
        if (virtualName.empty() || rest.empty()) break;
        const std::u16string_view lowerName = next();
        if (lowerName.empty()) break;
        pairs.emplace_back(virtualName, lowerName);
    }
    return pairs;
}

std::uint32_t QueryAdapterDetails(DeviceHandle& adapter, AdapterInfo& entry) {
    std::uint32_t returned = 0;
    char description[kVendorDescriptionBufferSize];
    if (std::uint32_t error = QueryOid(adapter, OID_GEN_VENDOR_DESCRIPTION, description,
                                       sizeof description, &returned)) {
        return error;
    }
    entry.vendorDescription = TextOf(description, returned);

    std::vector<std::uint8_t> buffer(kOidBufferSize);
    if (std::uint32_t error =
            QueryOid(adapter, OID_GEN_MEDIA_IN_USE, buffer.data(), kOidBufferSize, &returned)) {
        return error;
    }
    // Without a medium number there is no address to ask for.
    if (returned < sizeof(std::uint32_t)) return 0;
    std::uint32_t medium;
    std::memcpy(&medium, buffer.data(), sizeof medium);
    entry.mediumName = MediumName(medium);

    NDIS_OID addressOid;
    if (medium == NdisMedium802_3) {
        addressOid = OID_802_3_CURRENT_ADDRESS;
    } else if (medium == NdisMediumFddi) {
        addressOid = OID_FDDI_LONG_CURRENT_ADDR;
    } else {
        return 0;
    }
    if (std::uint32_t error = QueryOid(adapter, addressOid, buffer.data(), kOidBufferSize, &returned)) {
        return error;
    }
    if (returned == kHardwareAddressLength) {
        entry.hardwareAddress =
            FormatHardwareAddress(std::span<const std::uint8_t, kHardwareAddressLength>(
                buffer.data(), kHardwareAddressLength));
    }
    return 0;
}

bool EnumerateAdapters(AdapterList& list) {
    DeviceHandle device = OpenControlDevice();
    std::vector<std::uint8_t> bindings(kBindingListBufferSize);
    std::uint32_t returned = 0;
    if (!DeviceIoControl(device, IOCTL_ENUM_BINDINGS, nullptr, 0, bindings.data(),
                         kBindingListBufferSize, &returned)) {
        return false;
    }
    for (const auto& [virtualName, lowerName] : ParseBindingList(bindings.data(), returned)) {
        AdapterInfo entry;
        entry.virtualDeviceName = Utf16ToUtf8(virtualName);
        entry.lowerDeviceName = Utf16ToUtf8(lowerName);
        // An adapter another handle holds does not open, and is left out.
        DeviceHandle adapter = OpenAdapterHandle(entry.lowerDeviceName);
        if (!adapter.Valid()) continue;
        QueryAdapterDetails(adapter, entry);
        adapter.Close();
        list.insert_or_assign(entry.lowerDeviceName, std::move(entry));
    }
    return true;
}

}  // namespace fv
