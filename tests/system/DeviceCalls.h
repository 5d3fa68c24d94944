// Control-device calls the system tests share: a one-address range table and a drain of the
// blocked ring.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "fv_contract/ControlCodes.h"
#include "fv_contract/PacketEventRecord.h"
#include "fv_contract/RangeImage.h"
#include "fv_platform/DeviceClient.h"

namespace fv::systest {

// The upload image of a table holding the single address `hostOrder`.
inline std::vector<std::uint8_t> SingleAddressTable(std::uint32_t hostOrder) {
    const std::uint32_t count = 1;
    std::vector<std::uint8_t> upload(RangeTableImageSize(count), 0);
    const RangeEntry entry{hostOrder, 0};
    std::memcpy(upload.data(), &count, sizeof count);
    std::memcpy(upload.data() + sizeof count, &entry, sizeof entry);
    return upload;
}

// Every blocked record the driver holds for `adapter`, in order.
inline std::vector<PacketEventRecord> TakeBlockedRecords(fv::DeviceHandle& adapter) {
    std::vector<PacketEventRecord> records;
    std::uint32_t pending = 0;
    if (!fv::DeviceIoControl(adapter, IOCTL_GET_BLOCKED_COUNT, nullptr, 0, &pending, 4, nullptr)) {
        return records;
    }
    for (std::uint32_t i = 0; i < pending; ++i) {
        PacketEventRecord r{};
        if (fv::DeviceIoControl(adapter, IOCTL_GET_BLOCKED_RECORD, nullptr, 0, &r, sizeof r,
                                nullptr)) {
            records.push_back(r);
        }
    }
    return records;
}

}  // namespace fv::systest
