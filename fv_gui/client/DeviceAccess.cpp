#include "fv_gui/client/DeviceAccess.h"

#include <cstdlib>

#include "fv_contract/ControlCodes.h"
#include "fv_contract/DeviceNames.h"

namespace fv {

std::string DeviceDirectory() {
    const char* dir = std::getenv(kDeviceDirVariable);
    return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string(kDefaultDeviceDir);
}

DeviceHandle OpenControlDevice() {
    const std::string dir = DeviceDirectory();
    DeviceHandle handle = OpenDevice(dir + "/" + kControlDeviceName);
    if (handle.Valid()) return handle;
    const std::uint32_t error = GetLastError();
    handle = OpenDevice(dir + "/" + kControlDeviceFallbackName);
    // A fallback that is not there says nothing about why the device refused (a user outside
    // its group, a driver that does not answer).
    if (!handle.Valid() && GetLastError() == kErrorFileNotFound) SetLastError(error);
    return handle;
}

DeviceHandle OpenAdapterHandle(std::string_view name) {
    const std::optional<std::u16string> wide = Utf8ToUtf16(name);
    if (!wide || wide->size() >= kAdapterNameUnits) {
        SetLastError(kErrorInvalidParameter);
        return {};
    }
    DeviceHandle handle = OpenControlDevice();
    if (!handle.Valid()) return handle;
    std::uint32_t word = 0;
    const bool ok = DeviceIoControl(handle, IOCTL_OPEN_ADAPTER, wide->data(),
                                    std::uint32_t(wide->size() * sizeof(char16_t)), &word,
                                    kOpenAdapterWordSize, nullptr);
    if (ok && word == 0) return handle;
    if (word != 0) SetLastError(word);
    handle.Close();
    return handle;
}

std::uint32_t QueryOid(DeviceHandle& handle, std::uint32_t oid, void* output,
                       std::uint32_t outputSize, std::uint32_t* returned) {
    *returned = 0;
    if (DeviceIoControl(handle, IOCTL_QUERY_OID, &oid, sizeof oid, output, outputSize, returned)) {
        return 0;
    }
    const std::uint32_t error = GetLastError();
    return error != kErrorSuccess ? error : kErrorGenFailure;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        std::uint32_t code;
        std::size_t extra;
        if (lead < 0x80) {
            code = lead;
            extra = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
        } else {
            return std::nullopt;
        }
        if (text.size() - i <= extra) return std::nullopt;
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return std::nullopt;
            code = code << 6 | (c & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return std::nullopt;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(char16_t(0xD800 | code >> 10));
            out.push_back(char16_t(0xDC00 | (code & 0x3FF)));
        } else {
            out.push_back(char16_t(code));
        }
        i += extra + 1;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10 | (text[i + 1] - 0xDC00));
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = '?';
        }
        if (code < 0x80) {
            out.push_back(char(code));
        } else if (code < 0x800) {
            out.push_back(char(0xC0 | code >> 6));
            out.push_back(char(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(char(0xE0 | code >> 12));
            out.push_back(char(0x80 | (code >> 6 & 0x3F)));
            out.push_back(char(0x80 | (code & 0x3F)));
        } else {
            out.push_back(char(0xF0 | code >> 18));
            out.push_back(char(0x80 | (code >> 12 & 0x3F)));
            out.push_back(char(0x80 | (code >> 6 & 0x3F)));
            out.push_back(char(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace fv
