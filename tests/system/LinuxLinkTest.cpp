#include <poll.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/system/NetnsFixture.h"
#include "fv_drv/ndis/linux/LinuxLink.h"

namespace {

using namespace ndis::linux_media;

std::string Sysctl(const std::string& path) {
    std::ifstream in(path);
    std::string v;
    std::getline(in, v);
    return v;
}

bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

// Reads frames until one carries `tag` (the kernel may send its own on a fresh link); its length.
long ReceiveTagged(PacketPort& port, std::uint8_t tag, std::uint8_t* buffer, std::size_t size) {
    for (int i = 0; i < 20; ++i) {
        if (!WaitReadable(port.Fd(), 100)) continue;
        const long n = port.Receive(buffer, size);
        if (n > 14 && buffer[14] == tag) return n;
    }
    return -1;
}

std::vector<std::uint8_t> Frame(const MacAddress& to, const MacAddress& from, std::uint8_t tag) {
    std::vector<std::uint8_t> f(60, tag);
    std::memcpy(f.data(), to.data(), 6);
    std::memcpy(f.data() + 6, from.data(), 6);
    f[12] = 0x88;  // a local experimental ethertype, of no interest to the kernel
    f[13] = 0xB5;
    return f;
}

class LinuxLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        FV_REQUIRE_PRIVATE_NETWORK();
        fv::systest::Run("ip link del fvl0 2>/dev/null");
        ASSERT_TRUE(fv::systest::Run("ip link add fvl0 type veth peer name fvl1"));
        ASSERT_TRUE(fv::systest::Run("ip link set fvl0 up && ip link set fvl1 up"));
        std::string error;
        ASSERT_TRUE(QueryInterface("fvl0", lower, error)) << error;
        ASSERT_TRUE(QueryInterface("fvl1", peer, error)) << error;
    }
    void TearDown() override { fv::systest::Run("ip link del fvl0 2>/dev/null"); }
    InterfaceInfo lower;
    InterfaceInfo peer;
};

TEST_F(LinuxLinkTest, QueriesTheKernelsViewOfAnInterface) {
    EXPECT_GT(lower.index, 0);
    EXPECT_EQ(lower.mtu, 1500);
    EXPECT_EQ(lower.driver, "veth");
    EXPECT_EQ(VendorDescription(lower), "veth");
    EXPECT_NE(lower.mac, MacAddress{});
    InterfaceInfo none;
    std::string error;
    EXPECT_FALSE(QueryInterface("fvnothere", none, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(QueryInterface("a-name-far-too-long-for-linux", none, error));
}

TEST_F(LinuxLinkTest, TapCarriesTheLowerAddressAndVanishesWhenClosed) {
    TapPort tap;
    std::string error;
    ASSERT_TRUE(TapPort::Create("fv-fvl0", lower.mac, lower.mtu, tap, error)) << error;
    InterfaceInfo info;
    ASSERT_TRUE(QueryInterface("fv-fvl0", info, error)) << error;
    EXPECT_EQ(info.mac, lower.mac);
    EXPECT_EQ(info.mtu, 1500);
    tap.Close();
    EXPECT_FALSE(QueryInterface("fv-fvl0", info, error));
}

TEST_F(LinuxLinkTest, PacketPortSendsAndReceivesButNotItsOwnFrames) {
    PacketPort mine;
    PacketPort theirs;
    std::string error;
    ASSERT_TRUE(PacketPort::Create(lower.index, mine, error)) << error;
    ASSERT_TRUE(PacketPort::Create(peer.index, theirs, error)) << error;
    std::uint8_t buffer[2048];
    while (mine.Receive(buffer, sizeof buffer) > 0) {
    }
    while (theirs.Receive(buffer, sizeof buffer) > 0) {
    }

    const auto out = Frame(peer.mac, lower.mac, 0x11);
    ASSERT_TRUE(mine.Send(out.data(), out.size()));
    long n = ReceiveTagged(theirs, 0x11, buffer, sizeof buffer);
    ASSERT_EQ(n, long(out.size()));
    EXPECT_EQ(std::memcmp(buffer, out.data(), out.size()), 0);
    // Our own transmission is not read back.
    EXPECT_FALSE(WaitReadable(mine.Fd(), 100) && mine.Receive(buffer, sizeof buffer) > 0 &&
                 buffer[14] == 0x11);

    const auto in = Frame(lower.mac, peer.mac, 0x22);
    ASSERT_TRUE(theirs.Send(in.data(), in.size()));
    n = ReceiveTagged(mine, 0x22, buffer, sizeof buffer);
    ASSERT_EQ(n, long(in.size()));
}

TEST_F(LinuxLinkTest, TaggedFramesArriveWithTheirTag) {
    PacketPort mine;
    PacketPort theirs;
    std::string error;
    ASSERT_TRUE(PacketPort::Create(lower.index, mine, error)) << error;
    ASSERT_TRUE(PacketPort::Create(peer.index, theirs, error)) << error;
    std::uint8_t buffer[2048];
    while (mine.Receive(buffer, sizeof buffer) > 0) {
    }
    // 802.1Q, priority 3, VLAN 42, then the frame's own type and payload.
    auto tagged = Frame(lower.mac, peer.mac, 0x33);
    const std::uint8_t tag[4] = {0x81, 0x00, 0x60, 0x2A};
    tagged.insert(tagged.begin() + 12, tag, tag + 4);
    ASSERT_TRUE(theirs.Send(tagged.data(), tagged.size()));
    ASSERT_TRUE(WaitReadable(mine.Fd(), 2000));
    const long n = mine.Receive(buffer, sizeof buffer);
    ASSERT_EQ(n, long(tagged.size()));
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + n), tagged);
}

TEST_F(LinuxLinkTest, KernelIsKeptOffTheLowerAndLetBackOnAfterwards) {
    const std::string arp = "/proc/sys/net/ipv4/conf/fvl0/arp_ignore";
    const std::string rp = "/proc/sys/net/ipv4/conf/fvl0/rp_filter";
    const std::string before = Sysctl(rp);
    {
        KernelKeepOff keepOff;
        std::string error;
        ASSERT_TRUE(keepOff.Apply("fvl0", error)) << error;
        EXPECT_EQ(Sysctl(arp), "8");
        EXPECT_EQ(Sysctl(rp), "1");
        EXPECT_EQ(Sysctl("/proc/sys/net/ipv6/conf/fvl0/disable_ipv6"), "1");
    }
    EXPECT_EQ(Sysctl(arp), "0");
    EXPECT_EQ(Sysctl(rp), before);
}

// The kept settings are read back only as written for this interface: anything else found in
// the file (another interface, another setting, a value the kernel would not take) makes the
// whole file count for nothing.
TEST(KeepOffRecord, OnlyThisInterfacesSettingsInRangeAreTakenBack) {
    const KeepOffValues values = {{"arp_ignore", "2"}, {"disable_ipv6", "0"}, {"rp_filter", "2"}};
    KeepOffValues read;
    ASSERT_TRUE(ParseKeepOffRecord(FormatKeepOffRecord("eth0", values), "eth0", read));
    EXPECT_EQ(read, values);
    // A setting IPv6 did not have is simply missing.
    EXPECT_TRUE(ParseKeepOffRecord("interface eth0\nrp_filter 0\n", "eth0", read));
    EXPECT_EQ(read.size(), 1u);
    for (const char* bad : {
             "interface eth1\nrp_filter 0\n",             // another interface
             "interface eth0\nforwarding 1\n",            // not one of ours
             "interface eth0\nrp_filter 0\nrp_filter 2\n",  // twice
             "interface eth0\nrp_filter 3\n",             // beyond the kernel's range
             "interface eth0\narp_ignore 9\n",
             "interface eth0\nrp_filter -1\n",
             "interface eth0\nrp_filter 0001\n",
             "interface eth0\nrp_filter 1 \n",
             "interface eth0\nrp_filter\n",
             "interface eth0\nrp_filter 1",                // cut short
             "interface eth0\n\n",
             "",
         }) {
        EXPECT_FALSE(ParseKeepOffRecord(bad, "eth0", read)) << bad;
    }
    EXPECT_FALSE(ParseKeepOffRecord("interface eth0\n" + std::string(600, '#') + "\n", "eth0", read));
}

TEST_F(LinuxLinkTest, LinkChangesAreSeen) {
    LinkWatcher watcher;
    std::string error;
    ASSERT_TRUE(watcher.Open(error)) << error;
    ASSERT_TRUE(fv::systest::Run("ip link set fvl1 down"));
    // The peer's own change may be announced first; the lower's carrier follows shortly.
    bool lowerChanged = false;
    for (int i = 0; i < 20 && !lowerChanged; ++i) {
        if (WaitReadable(watcher.Fd(), 100)) lowerChanged = watcher.Drain(lower.index);
    }
    EXPECT_TRUE(lowerChanged);
    InterfaceInfo info;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(QueryInterface("fvl0", info, error));
        if (!info.running) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(info.running);
}

}  // namespace
