// What the user is told when the driver will not serve them or a session does not open: the
// refusal of a user outside the device group (with the group the device really serves), and the
// step that failed, against a scripted device on the real control socket.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "fv_contract/DeviceNames.h"
#include "fv_contract/Statuses.h"
#include "fv_gui/client/DeviceAccess.h"
#include "fv_gui/client/SessionFailure.h"
#include "tests/fv_gui/ScriptedSessionFixture.h"

namespace {

using namespace fv::test;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class SessionFailureTest : public ScriptedSessionFixture {
protected:
    std::string DevicePath() const { return DeviceDir() + "/" + kControlDeviceName; }

    // Opens a session on `adapter` with `parameters` and says why it did not open.
    std::string WhyNotOpened(const fv::SessionParameters& parameters) {
        auto other = std::make_unique<fv::DriverSession>(&sink);
        EXPECT_FALSE(other->OpenSession(parameters));
        EXPECT_FALSE(driver->EventsHeld());
        return fv::SessionFailureText(other->OpenFailure(), parameters.blocklistPath,
                                      parameters.selectedAdapter, DevicePath(),
                                      {"alice", "ferrovane"});
    }
};

TEST_F(SessionFailureTest, AUserOutsideTheDeviceGroupIsToldHowToJoinIt) {
    {
        auto lock = driver->Lock();
        driver->openStatus = STATUS_ACCESS_DENIED;
    }
    // The device names the group it serves by its socket's group.
    std::optional<std::string> group;
    if (const ::group* users = ::getgrnam("users");
        users != nullptr && ::geteuid() == 0 &&
        ::chown(DevicePath().c_str(), uid_t(-1), users->gr_gid) == 0) {
        group = "users";
    }
    EXPECT_FALSE(session->CheckDriverVersion());
    EXPECT_FALSE(session->DriverPresent());
    // Not the fallback name's absence: the refusal is what counts.
    EXPECT_EQ(session->ProbeError(), fv::kErrorAccessDenied);
    const std::string text = session->MessageText();
    EXPECT_EQ(text.find("Version incompatibility"), std::string::npos) << text;
    EXPECT_TRUE(Has(text, "You may not use the Ferrovane filter")) << text;
    const fv::DeviceUser who = fv::CurrentDeviceUser();
    if (group) {
        EXPECT_EQ(who.group, *group);
    }
    EXPECT_TRUE(Has(text, "sudo adduser " + who.user + " " + who.group + ")")) << text;
    EXPECT_EQ(fv::ProbeFailureText(session->ProbeError(), DevicePath(), who), text);

    // A socket of root's group serves nobody's group: the packaged group is named.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(DevicePath().c_str(), uid_t(-1), 0), 0);
        EXPECT_EQ(fv::CurrentDeviceUser().group, fv::kDefaultDeviceGroup);
    }
}

TEST_F(SessionFailureTest, AMissingOrSilentDriverIsNamedAsSuch) {
    driver.reset();
    DriverVersionInfo version{};
    EXPECT_FALSE(session->ProbeDriver(version));
    const std::string text =
        fv::ProbeFailureText(session->ProbeError(), DevicePath(), {"alice", "ferrovane"});
    EXPECT_TRUE(Has(text, DevicePath() + ": is ferrovane-sys running?")) << text;
    EXPECT_TRUE(
        Has(fv::ProbeFailureText(fv::kErrorSemTimeout, DevicePath(), {}), "does not answer"));
}

TEST_F(SessionFailureTest, AFailedOpenSaysWhichStepFailedAndWhy) {
    fv::SessionParameters missing = Parameters(kAdapter);
    missing.blocklistPath = dir / "absent.p2p";
    EXPECT_EQ(WhyNotOpened(missing), "The blocklist " + missing.blocklistPath + " does not exist.");

    fv::SessionParameters folder = Parameters(kAdapter);
    folder.blocklistPath = dir / "logs";
    EXPECT_TRUE(Has(WhyNotOpened(folder), "could not be read"));

    WriteFile(dir / "empty.p2p", "# nothing listed\r\n");
    fv::SessionParameters empty = Parameters(kAdapter);
    empty.blocklistPath = dir / "empty.p2p";
    EXPECT_TRUE(Has(WhyNotOpened(empty), "lists no address range"));

    EXPECT_EQ(WhyNotOpened(Parameters("eth9")), "The adapter eth9 is not one the driver filters.");

    {
        fv::DeviceHandle holder = fv::OpenAdapterHandle(kAdapter);
        ASSERT_TRUE(holder.Valid());
        EXPECT_TRUE(Has(WhyNotOpened(Parameters(kAdapter)), "held by another session"));
    }

    auto refuse = [&](std::uint32_t code, std::uint32_t status) {
        auto lock = driver->Lock();
        driver->script = [code, status](std::uint32_t c, std::uint8_t*, std::uint32_t,
                                        std::uint32_t, std::uint32_t*) {
            return c == code ? std::optional<std::uint32_t>(status) : std::nullopt;
        };
    };
    // The driver keeps one program's events: another program holds them.
    refuse(IOCTL_CREATE_BLOCKED_EVENT, STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(Has(WhyNotOpened(Parameters(kAdapter)), "is ferrovane running?"));
    refuse(IOCTL_SET_RANGES, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(Has(WhyNotOpened(Parameters(kAdapter)), "no memory"));
    refuse(IOCTL_SET_RANGES, STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(Has(WhyNotOpened(Parameters(kAdapter)), "refused the blocklist (error 31)"));
}

}  // namespace
