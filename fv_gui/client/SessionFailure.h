// Why the driver cannot be used or a session did not open, in words for the user: the user
// outside the device's group, a driver that is missing or does not answer, and each step of
// opening a session that can fail.
#pragma once

#include <cstdint>
#include <string>

namespace fv {

// The group the packaged driver serves, named when the device does not tell its own.
inline constexpr const char kDefaultDeviceGroup[] = "ferrovane";
// Stands in for the user's name when it cannot be found.
inline constexpr const char kUnknownUserName[] = "YOUR-USER-NAME";
// The status row beside the access message.
inline constexpr const char kAccessDeniedRow[] = "You may not use the Ferrovane filter.";

// The step of opening a session that failed.
enum class SessionStep {
    None,
    Events,          // the named events, or handing them to the driver
    Adapter,         // binding a handle to the selected adapter
    Blocklist,       // reading the blocklist file
    EmptyBlocklist,  // it lists no range
    Upload,          // the driver taking the ranges
};

struct SessionFailure {
    SessionStep step = SessionStep::None;
    // The last error of the failed call (0 when the program itself failed; `detail` says how).
    std::uint32_t error = 0;
    std::string detail;
};

// Who is refused, and the group that would let them in.
struct DeviceUser {
    std::string user;
    std::string group;
};

// The user this process runs as, and the device's group as its socket shows it.
DeviceUser CurrentDeviceUser();

// The refusal of a user outside the device group, and how to join it. CR LF between lines.
std::string AccessDeniedText(const DeviceUser& who);

// Why the probe found no usable driver at `devicePath`: its error after the open or the version
// request.
std::string ProbeFailureText(std::uint32_t error, const std::string& devicePath,
                             const DeviceUser& who);

// Why a session did not open, for the blocklist at `blocklistPath` on `adapter`.
std::string SessionFailureText(const SessionFailure& failure, const std::string& blocklistPath,
                               const std::string& adapter, const std::string& devicePath,
                               const DeviceUser& who);

}  // namespace fv
