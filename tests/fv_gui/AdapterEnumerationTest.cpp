// Adapter enumeration: the binding list as the driver may send it (well formed or not), the
// adapter queries, and adapter handles, against a scripted device.
#include <cstring>

#include "tests/fv_gui/ClientFixture.h"
#include "tests/fv_gui/ScriptedDriver.h"
#include "fv_gui/client/AdapterEnumeration.h"
#include "fv_gui/client/DeviceAccess.h"
#include "fv_contract/Statuses.h"

namespace {

using namespace fv::test;

std::vector<std::uint8_t> Units(const std::u16string& text) {
    std::vector<std::uint8_t> bytes(text.size() * 2);
    std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

TEST(BindingListTest, ParsesPairsUpToTheEmptyString) {
    const auto bytes = Units(std::u16string(u"v1\0l1\0v2\0l2\0\0v3\0l3\0", 19));
    EXPECT_EQ(fv::ParseBindingList(bytes.data(), std::uint32_t(bytes.size())),
              (Pairs{{u"v1", u"l1"}, {u"v2", u"l2"}}));
    const auto empty = Units(std::u16string(1, u'\0'));
    EXPECT_TRUE(fv::ParseBindingList(empty.data(), 2).empty());
    EXPECT_TRUE(fv::ParseBindingList(empty.data(), 0).empty());
}

TEST(BindingListTest, MalformedListsAreReadOnlyWithinTheReply) {
    // No terminating NULs at all: the lower name ends with the data.
    const auto open = Units(std::u16string(u"virt\0lower", 10));
    EXPECT_EQ(fv::ParseBindingList(open.data(), std::uint32_t(open.size())),
              (Pairs{{u"virt", u"lower"}}));
    // A virtual name with nothing after it is dropped.
    const auto lone = Units(std::u16string(u"virt\0", 5));
    EXPECT_TRUE(fv::ParseBindingList(lone.data(), std::uint32_t(lone.size())).empty());
    const auto unterminated = Units(u"virtual-only");
    EXPECT_TRUE(
        fv::ParseBindingList(unterminated.data(), std::uint32_t(unterminated.size())).empty());
    // An odd byte count: the half unit at the end belongs to nothing.
    auto odd = Units(std::u16string(u"a\0b\0\0", 5));
    odd.push_back(0x41);
    EXPECT_EQ(fv::ParseBindingList(odd.data(), std::uint32_t(odd.size())), (Pairs{{u"a", u"b"}}));
    // Fewer bytes returned than the buffer holds: the rest is not looked at.
    EXPECT_EQ(fv::ParseBindingList(open.data(), 12), (Pairs{{u"virt", u"l"}}));
}

TEST(AdapterTextTest, MediumNamesAndHardwareAddresses) {
    EXPECT_STREQ(fv::MediumName(0), "802.3");
    EXPECT_STREQ(fv::MediumName(3), "WAN");
    EXPECT_STREQ(fv::MediumName(13), "IEEE 1394 (Firewire)");
    EXPECT_STREQ(fv::MediumName(14), "Unknown");
    EXPECT_STREQ(fv::MediumName(20), "Unknown");
    const std::uint8_t mac[6] = {0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(fv::FormatHardwareAddress(mac), "00-0C-29-AB-CD-EF");
}

TEST(AdapterTextTest, Utf8NamesRoundTripAndMalformedOnesAreRefused) {
    const std::string name = "\\Device\\n\xC3\xA9t-\xF0\x9F\x9B\xA1";
    const auto wide = fv::Utf8ToUtf16(name);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->size(), 14u);  // the last two units are a surrogate pair
    EXPECT_EQ(fv::Utf16ToUtf8(*wide), name);
    EXPECT_FALSE(fv::Utf8ToUtf16("\xC3"));
    EXPECT_FALSE(fv::Utf8ToUtf16("\xC0\xAF"));      // overlong
    EXPECT_FALSE(fv::Utf8ToUtf16("\xED\xA0\x80"));  // a surrogate
    EXPECT_EQ(fv::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "?");
}

class EnumerationTest : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        driver = std::make_unique<ScriptedDriver>(DeviceDir());
        ASSERT_TRUE(driver->Serve());
    }
    void TearDown() override {
        ClientFixture::TearDown();
        driver.reset();
    }
    std::unique_ptr<ScriptedDriver> driver;
};

TEST_F(EnumerationTest, AdapterNamesUpTo259UnitsReachTheDriver) {
    EXPECT_FALSE(fv::OpenAdapterHandle(std::string(260, 'a')).Valid());
    EXPECT_EQ(driver->Served(IOCTL_OPEN_ADAPTER), 0);
    const std::string longest(259, 'a');
    {
        auto lock = driver->Lock();
        driver->adapters[longest] = FakeAdapter{};
    }
    EXPECT_TRUE(fv::OpenAdapterHandle(longest).Valid());
    EXPECT_FALSE(fv::OpenAdapterHandle("\xFF").Valid());
    EXPECT_EQ(driver->Served(IOCTL_OPEN_ADAPTER), 1);
}

TEST_F(EnumerationTest, ANonZeroOutputWordRefusesTheHandle) {
    auto lock = driver->Lock();
    driver->adapters["eth0"] = FakeAdapter{};
    driver->script = [](std::uint32_t code, std::uint8_t* buffer, std::uint32_t, std::uint32_t,
                        std::uint32_t* info) -> std::optional<std::uint32_t> {
        if (code != IOCTL_OPEN_ADAPTER) return std::nullopt;
        const std::uint32_t word = fv::kErrorBusy;
        std::memcpy(buffer, &word, 4);
        *info = 4;
        return STATUS_SUCCESS;
    };
    lock.unlock();
    EXPECT_FALSE(fv::OpenAdapterHandle("eth0").Valid());
    EXPECT_EQ(fv::GetLastError(), fv::kErrorBusy);
}

TEST_F(EnumerationTest, QueriesFillWhatTheAdapterAnswers) {
    {
        auto lock = driver->Lock();
        driver->adapters["fddi0"] = FakeAdapter{"Ring", NdisMediumFddi, {1, 2, 3, 4, 5, 6}};
        driver->adapters["odd0"] = FakeAdapter{"Odd", 20, {}};
        driver->adapters["short0"] = FakeAdapter{"Short", NdisMedium802_3, {1, 2, 3, 4, 5}};
        driver->bindings = BindingListBytes(
            {{"fv-fddi0", "fddi0"}, {"fv-odd0", "odd0"}, {"fv-short0", "short0"}});
    }
    fv::AdapterList list;
    ASSERT_TRUE(fv::EnumerateAdapters(list));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list["fddi0"].mediumName, "FDDI");
    EXPECT_EQ(list["fddi0"].hardwareAddress, "01-02-03-04-05-06");
    EXPECT_EQ(list["fddi0"].virtualDeviceName, "fv-fddi0");
    EXPECT_EQ(list["odd0"].mediumName, "Unknown");
    EXPECT_EQ(list["odd0"].hardwareAddress, "");
    EXPECT_EQ(list["short0"].vendorDescription, "Short");
    EXPECT_EQ(list["short0"].hardwareAddress, "");  // not exactly six bytes
}

TEST_F(EnumerationTest, DescriptionsWithoutANulAndFailedQueries) {
    {
        auto lock = driver->Lock();
        driver->adapters["eth0"] = FakeAdapter{};
        driver->bindings = BindingListBytes({{"fv-eth0", "eth0"}, {"fv-gone", "gone"}});
        driver->script = [](std::uint32_t code, std::uint8_t* buffer, std::uint32_t,
                            std::uint32_t out, std::uint32_t* info) -> std::optional<std::uint32_t> {
            if (code != IOCTL_QUERY_OID) return std::nullopt;
            std::uint32_t oid;
            std::memcpy(&oid, buffer, 4);
            if (oid == OID_GEN_VENDOR_DESCRIPTION) {
                std::memset(buffer, 'x', out);  // fills the whole buffer, no NUL
                *info = out;
                return STATUS_SUCCESS;
            }
            return STATUS_UNSUCCESSFUL;
        };
    }
    fv::AdapterList list;
    list["old"] = fv::AdapterInfo{"kept", "", "old", "", ""};
    ASSERT_TRUE(fv::EnumerateAdapters(list));
    // The adapter that does not open is left out; an earlier entry stays.
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list["old"].vendorDescription, "kept");
    EXPECT_EQ(list["eth0"].vendorDescription, std::string(fv::kVendorDescriptionBufferSize, 'x'));
    EXPECT_EQ(list["eth0"].mediumName, "");
}

TEST_F(EnumerationTest, AFailedListRequestFailsTheEnumeration) {
    {
        auto lock = driver->Lock();
        driver->script = [](std::uint32_t code, std::uint8_t*, std::uint32_t, std::uint32_t,
                            std::uint32_t*) -> std::optional<std::uint32_t> {
            if (code == IOCTL_ENUM_BINDINGS) return STATUS_BUFFER_OVERFLOW;  // overflow
            return std::nullopt;
        };
    }
    fv::AdapterList list;
    EXPECT_FALSE(fv::EnumerateAdapters(list));
    EXPECT_TRUE(list.empty());
}

}  // namespace
