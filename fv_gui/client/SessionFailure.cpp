#include "fv_gui/client/SessionFailure.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "fv_contract/DeviceNames.h"
#include "fv_gui/client/DeviceAccess.h"
#include "fv_platform/DeviceClient.h"

namespace fv {
namespace {

std::string UserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && *found->pw_name != '\0') {
        return found->pw_name;
    }
    for (const char* variable : {"LOGNAME", "USER"}) {
        const char* name = std::getenv(variable);
        if (name != nullptr && *name != '\0') return name;
    }
    return kUnknownUserName;
}

// The group of the device socket: the daemon gives it to the group it serves. A socket of
// root's group serves no group; the packaged one is named then.
std::string DeviceGroup() {
    const std::string dir = DeviceDirectory();
    for (const char* name : {kControlDeviceName, kControlDeviceFallbackName}) {
        struct stat status {};
        if (stat((dir + "/" + name).c_str(), &status) != 0) continue;
        if (status.st_gid == 0) break;
        std::vector<char> buffer(16384);
        group entry{};
        group* found = nullptr;
        if (getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && *found->gr_name != '\0') {
            return found->gr_name;
        }
        break;
    }
    return kDefaultDeviceGroup;
}

// What a failed open of the device or a request that got no answer says about the driver;
// empty for errors the driver gave.
std::string DeviceErrorText(std::uint32_t error, const std::string& devicePath,
                            const DeviceUser& who) {
    switch (error) {
        case kErrorAccessDenied:
            return AccessDeniedText(who);
        case kErrorFileNotFound:
            return "No Ferrovane driver answers at " + devicePath + ": is ferrovane-sys running?";
        case kErrorSemTimeout:
            return "The Ferrovane driver at " + devicePath +
                   " does not answer: ferrovane-sys is stopped or overloaded.";
        default:
            return {};
    }
}

std::string WithError(const std::string& text, std::uint32_t error) {
    return text + " (error " + std::to_string(error) + ").";
}

}  // namespace

DeviceUser CurrentDeviceUser() {
    return {UserName(), DeviceGroup()};
}

std::string AccessDeniedText(const DeviceUser& who) {
    return "You may not use the Ferrovane filter: only root and the members of the group " +
           who.group + " may.\r\nAsk an administrator to add you to it (sudo adduser " + who.user +
           " " + who.group + "), then log out and log in again.";
}

std::string ProbeFailureText(std::uint32_t error, const std::string& devicePath,
                             const DeviceUser& who) {
    std::string text = DeviceErrorText(error, devicePath, who);
    if (text.empty())
        text = WithError("The Ferrovane driver at " + devicePath + " gave no version", error);
    return text;
}

std::string SessionFailureText(const SessionFailure& failure, const std::string& blocklistPath,
                               const std::string& adapter, const std::string& devicePath,
                               const DeviceUser& who) {
    const std::string list = "The blocklist " + blocklistPath;
    const std::string card = "The adapter " + adapter;
    switch (failure.step) {
        case SessionStep::None:
            return {};
        case SessionStep::Events:
            if (failure.error == kErrorSuccess) return failure.detail;
            // The driver keeps one program's events at a time.
            if (failure.error == kErrorInvalidParameter) {
                return "The driver serves another program's session: is ferrovane running?";
            }
            break;
        case SessionStep::Adapter:
            switch (failure.error) {
                case kErrorFileNotFound:
                    return card + " is not one the driver filters.";
                case kErrorBusy:
                    return card + " is held by another session: is ferrovane running?";
                case kErrorInvalidParameter:
                    return "The adapter name " + adapter + " is not valid.";
                case kErrorBadCommand:
                    return card + " is going away or asleep.";
                default:
                    break;
            }
            break;
        case SessionStep::Blocklist:
            if (failure.error == kErrorFileNotFound) return list + " does not exist.";
            if (failure.error == kErrorAccessDenied) return list + " may not be read.";
            return list + " could not be read.";
        case SessionStep::EmptyBlocklist:
            return list + " lists no address range.";
        case SessionStep::Upload:
            if (failure.error == kErrorNoSystemResources)
                return "The driver has no memory for " + blocklistPath + ".";
            break;
    }
    std::string text = DeviceErrorText(failure.error, devicePath, who);
    if (!text.empty()) return text;
    if (!failure.detail.empty()) return failure.detail;
    const char* what = failure.step == SessionStep::Events
                           ? "The driver refused the session's events"
                       : failure.step == SessionStep::Adapter ? "The driver refused the adapter"
                                                              : "The driver refused the blocklist";
    return WithError(what, failure.error);
}

}  // namespace fv
