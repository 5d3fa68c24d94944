// What a killed process leaves behind: a daemon killed while it binds an interface leaves its
// settings changed, and the next daemon puts back the ones from before; a program killed while
// it filters leaves the driver's events held, and the next program takes them over.
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

#include "fv_contract/ControlCodes.h"
#include "fv_contract/DeviceNames.h"
#include "fv_contract/PacketEventRecord.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "tests/WaitUntil.h"
#include "tests/system/DeviceCalls.h"
#include "tests/system/TestNetwork.h"

namespace {

using namespace fv::systest;

using fv::test::WaitUntil;

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

class ProgramRestartTest : public ::testing::Test {
protected:
    void SetUp() override {
        FV_REQUIRE_PRIVATE_NETWORK();
        network = std::make_unique<TestNetwork>(FV_FERROVANE_SYS);
        ASSERT_TRUE(network->Ready()) << "the test network did not come up";
    }
    void TearDown() override {
        if (handle.Valid()) {
            Call(IOCTL_STOP_FILTER);
            Call(IOCTL_CLOSE_EVENTS);
        }
        handle.Close();
        ReleaseEvents();
        network.reset();
    }

    static void ReleaseEvents() {
        for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
            fv::ReleaseNamedEvent(name);
        }
    }
    bool Call(std::uint32_t code, const void* in = nullptr, std::uint32_t inLength = 0) {
        return fv::DeviceIoControl(handle, code, in, inLength, nullptr, 0, nullptr);
    }
    // What the program does at start: the events, then the adapter filtering the listed remote.
    // False at the first request that fails; with `patient`, the events are asked for until a
    // few seconds have passed.
    bool StartProgram(bool patient) {
        fv::CreateNamedEvent(kBlockedEventName, fv::Event::Mode::AutoReset);
        fv::CreateNamedEvent(kGrantedEventName, fv::Event::Mode::AutoReset);
        fv::CreateNamedEvent(kExitEventName, fv::Event::Mode::AutoReset);
        handle = fv::OpenDevice(network->DeviceSocket());
        if (!handle.Valid()) return false;
        for (std::uint32_t code :
             {IOCTL_CREATE_BLOCKED_EVENT, IOCTL_CREATE_GRANTED_EVENT, IOCTL_CREATE_EXIT_EVENT}) {
            if (!WaitUntil([&] { return Call(code); }, patient ? 5000 : 0)) return false;
        }
        const std::u16string lower(kLower, kLower + std::strlen(kLower));
        std::uint32_t word = 0;
        const std::vector<std::uint8_t> upload = SingleAddressTable(HostOrder(kListedRemote));
        const std::uint8_t on = 1;
        return fv::DeviceIoControl(handle, IOCTL_OPEN_ADAPTER, lower.data(),
                                   std::uint32_t(lower.size() * 2), &word, 4, nullptr) &&
               Call(IOCTL_SET_RANGES, upload.data(), std::uint32_t(upload.size())) &&
               Call(IOCTL_START_FILTER) && Call(IOCTL_SET_REPORT_BLOCKED, &on, 1);
    }

    std::unique_ptr<TestNetwork> network;
    fv::DeviceHandle handle;
};

TEST_F(ProgramRestartTest, AProgramKilledWhileFilteringLeavesNothingHeldAndFilteringOn) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t program = fork();
    if (program == 0) {
        close(ready[0]);
        const char ok = StartProgram(false) ? 1 : 0;
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    kill(program, SIGKILL);
    EXPECT_EQ(WaitExit(program), -1);
    ASSERT_EQ(ok, 1) << "the first program did not start filtering";

    // Nobody watches, and still nothing from the listed remote gets through.
    EXPECT_FALSE(UdpEcho(nullptr, kListedRemote));
    ASSERT_TRUE(StartProgram(true));
    EXPECT_FALSE(UdpEcho(nullptr, kListedRemote));
    EXPECT_TRUE(UdpEcho(nullptr, kUnlistedRemote));
    bool recorded = false;
    for (const PacketEventRecord& r : TakeBlockedRecords(handle)) {
        recorded = recorded || ntohl(r.remoteAddress) == HostOrder(kListedRemote);
    }
    EXPECT_TRUE(recorded);
}

}  // namespace
