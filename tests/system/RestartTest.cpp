// What a killed process leaves behind: a daemon killed while it binds an interface leaves its
// settings changed, and the next daemon puts back the ones from before.
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fv_drv/contract/ControlCodes.h"
#include "fv_drv/contract/DeviceNames.h"
#include "fv_drv/contract/PacketEventRecord.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "tests/system/DeviceCalls.h"
#include "tests/system/TestNetwork.h"

namespace {

using namespace fv::systest;

bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

std::string Sysctl(const std::string& path) {
    std::ifstream in(path);
    std::string value;
    std::getline(in, value);
    return value;
}

TEST(RestartTest, ABoundInterfaceGetsItsOwnSettingsBackAfterTheDaemonWasKilled) {
    FV_REQUIRE_PRIVATE_NETWORK();
    constexpr const char* kLink = "fvk0";
    const std::string conf4 = std::string("/proc/sys/net/ipv4/conf/") + kLink + "/";
    const std::string conf6 = std::string("/proc/sys/net/ipv6/conf/") + kLink + "/";
    const std::filesystem::path deviceDir =
        std::filesystem::temp_directory_path() / ("fvrestart-" + std::to_string(getpid()));
    std::filesystem::create_directories(deviceDir);
    ASSERT_TRUE(fv::systest::Run(std::string("ip link add ") + kLink + " type veth peer name fvk1"));
    ASSERT_TRUE(fv::systest::Run(std::string("ip link set ") + kLink + " up"));
    // Values of the user's own, none of them what the daemon sets.
    ASSERT_TRUE(fv::systest::Run("echo 2 > " + conf4 + "arp_ignore && echo 2 > " + conf4 + "rp_filter"));
    const bool ipv6 = std::filesystem::exists(conf6 + "disable_ipv6");
    const auto start = [&] {
        const pid_t pid = fork();
        if (pid == 0) {
            execl(FV_FERROVANE_SYS, FV_FERROVANE_SYS, "--bind", kLink, "--device-dir",
                  deviceDir.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    };
    const auto bound = [&] {
        return fv::systest::Run(std::string("ip link show fv-") + kLink + " >/dev/null 2>&1") &&
               Sysctl(conf4 + "arp_ignore") == "8";
    };

    pid_t daemon = start();
    ASSERT_TRUE(WaitUntil(bound));
    kill(daemon, SIGKILL);
    EXPECT_EQ(WaitExit(daemon), -1);
    EXPECT_EQ(Sysctl(conf4 + "rp_filter"), "1");  // left as the daemon set it
    daemon = start();
    EXPECT_TRUE(WaitUntil(bound));
    kill(daemon, SIGTERM);
    EXPECT_EQ(WaitExit(daemon), 0);

    EXPECT_EQ(Sysctl(conf4 + "arp_ignore"), "2");
    EXPECT_EQ(Sysctl(conf4 + "rp_filter"), "2");
    if (ipv6) {
        EXPECT_EQ(Sysctl(conf6 + "disable_ipv6"), "0");
    }
    // Once restored, nothing is kept that a later start could mistake for the interface's own.
    std::size_t kept = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(deviceDir / "state", ec)) {
        kept += entry.path().filename().string().starts_with("settings") ? 1 : 0;
    }
    EXPECT_EQ(kept, 0u);
    fv::systest::Run(std::string("ip link del ") + kLink + " 2>/dev/null");
    std::filesystem::remove_all(deviceDir);
}

}  // namespace
