// The control device's request codes and reply layouts.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t kFileDeviceNetwork = 0x12;
inline constexpr std::uint32_t kFileReadWriteAccess = 3;
inline constexpr std::uint32_t kMethodBuffered = 0;
inline constexpr std::uint32_t kFirstFunction = 0x201;

constexpr std::uint32_t CtlCode(std::uint32_t deviceType, std::uint32_t function,
                                std::uint32_t method, std::uint32_t access) {
    return deviceType << 16 | access << 14 | function << 2 | method;
}
constexpr std::uint32_t FerrovaneCode(std::uint32_t index) {
    return CtlCode(kFileDeviceNetwork, kFirstFunction + index, kMethodBuffered,
                   kFileReadWriteAccess);
}

inline constexpr std::uint32_t IOCTL_ENUM_BINDINGS = FerrovaneCode(0);
inline constexpr std::uint32_t IOCTL_OPEN_ADAPTER = FerrovaneCode(1);
inline constexpr std::uint32_t IOCTL_QUERY_OID = FerrovaneCode(2);
inline constexpr std::uint32_t IOCTL_SET_OID = FerrovaneCode(3);
inline constexpr std::uint32_t IOCTL_GET_STATS = FerrovaneCode(4);
inline constexpr std::uint32_t IOCTL_RESET_STATS = FerrovaneCode(5);
inline constexpr std::uint32_t IOCTL_SET_RANGES = FerrovaneCode(6);
inline constexpr std::uint32_t IOCTL_GET_VERSION = FerrovaneCode(10);
inline constexpr std::uint32_t IOCTL_CREATE_BLOCKED_EVENT = FerrovaneCode(11);
inline constexpr std::uint32_t IOCTL_START_FILTER = FerrovaneCode(12);
inline constexpr std::uint32_t IOCTL_STOP_FILTER = FerrovaneCode(13);
inline constexpr std::uint32_t IOCTL_CREATE_EXIT_EVENT = FerrovaneCode(14);
inline constexpr std::uint32_t IOCTL_GET_BLOCKED_RECORD = FerrovaneCode(15);
inline constexpr std::uint32_t IOCTL_GET_GRANTED_RECORD = FerrovaneCode(16);
inline constexpr std::uint32_t IOCTL_CREATE_GRANTED_EVENT = FerrovaneCode(17);
inline constexpr std::uint32_t IOCTL_GET_BLOCKED_COUNT = FerrovaneCode(18);
inline constexpr std::uint32_t IOCTL_GET_GRANTED_COUNT = FerrovaneCode(19);
inline constexpr std::uint32_t IOCTL_SET_REPORT_BLOCKED = FerrovaneCode(20);
inline constexpr std::uint32_t IOCTL_SET_REPORT_GRANTED = FerrovaneCode(21);
inline constexpr std::uint32_t IOCTL_CLOSE_EVENTS = FerrovaneCode(22);

static_assert(IOCTL_ENUM_BINDINGS == 0x0012C804);
static_assert(IOCTL_SET_RANGES == 0x0012C81C);
static_assert(IOCTL_GET_VERSION == 0x0012C82C);
static_assert(IOCTL_CLOSE_EVENTS == 0x0012C85C);

inline constexpr std::uint32_t kDriverMajorVersion = 2;
inline constexpr std::uint32_t kDriverMinorVersion = 0;
inline constexpr std::uint32_t kDriverBuild = 8056;
inline constexpr const char* kDriverCodeName = "Duskmere";
inline constexpr const char* kDriverTag = "*Beta*";
inline constexpr std::size_t kVersionTextSize = 128;

struct DriverVersionInfo {
    std::uint32_t major;
    std::uint32_t minor;
    std::uint32_t build;
    char codeName[kVersionTextSize];
    char tag[kVersionTextSize];
};
static_assert(sizeof(DriverVersionInfo) == 268);
static_assert(offsetof(DriverVersionInfo, codeName) == 12);
static_assert(offsetof(DriverVersionInfo, tag) == 140);

// IOCTL_GET_STATS: the six counters in their order.
inline constexpr std::uint32_t kStatsSize = 6 * sizeof(std::uint32_t);
