#include "fv_lists/ListFormats.h"

#include <gtest/gtest.h>

namespace {

using namespace fv::lists;

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

ParsedList Parse(std::string_view text) {
    ParsedList list;
    ParseList(text, list);
    return list;
}

TEST(ListFormatsTest, AddressesAreStrictDottedDecimal) {
    std::uint32_t a = 0;
    EXPECT_TRUE(ParseIpv4("001.002.003.004", a));
    EXPECT_EQ(a, Ip(1, 2, 3, 4));
    EXPECT_TRUE(ParseIpv4("255.255.255.255", a));
    for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1.2.3.4 ", "1..2.3", "0001.2.3.4", "1.2.3.-4", ""}) {
        EXPECT_FALSE(ParseIpv4(bad, a)) << bad;
    }
    char text[16];
    EXPECT_EQ(std::string(text, FormatIpv4(Ip(10, 200, 0, 255), text)), "10.200.0.255");
}

TEST(ListFormatsTest, DatLevelsAtOrAbove128AllowAndAreLeftOut) {
    const ParsedList list = Parse(
        "001.002.003.000 - 001.002.003.255 , 000 , Bad net, with a comma\r\n"
        "005.000.000.000 - 005.000.000.010 , 127 , Still blocked\n"
        "006.000.000.000 - 006.000.000.010 , 128 , Allowed\n"
        "007.000.000.000 - 007.000.000.010 , 255 , Allowed too\n"
        "008.000.000.009 - 008.000.000.001 , 100\n");
    ASSERT_EQ(list.ranges.size(), 3u);
    EXPECT_EQ(list.allowed, 2u);
    EXPECT_EQ(list.Description(list.ranges[0]), "Bad net, with a comma");
    EXPECT_EQ(list.ranges[1].first, Ip(5, 0, 0, 0));
    // Reversed ends are put in order; a missing description stays empty for the merger to fill.
    EXPECT_EQ(list.ranges[2].first, Ip(8, 0, 0, 1));
    EXPECT_EQ(list.ranges[2].last, Ip(8, 0, 0, 9));
    EXPECT_EQ(list.ranges[2].length, 0u);
    EXPECT_EQ(list.unrecognised, 0u);
}

TEST(ListFormatsTest, CidrBlocksCommentsAndIpv6) {
    const ParsedList list = Parse(
        "\xEF\xBB\xBF# a comment\n"
        "10.1.2.3/8   # host bits set\n"
        "192.168.7.7\n"
        "0.0.0.0/32\n"
        "2001:db8::/32\n"
        "::ffff:1.2.3.4\n"
        "10.0.0.0/33\n");
    ASSERT_EQ(list.ranges.size(), 3u);
    EXPECT_EQ(list.ranges[0].first, Ip(10, 0, 0, 0));
    EXPECT_EQ(list.ranges[0].last, Ip(10, 255, 255, 255));
    EXPECT_EQ(list.Description(list.ranges[0]), "host bits set");
    EXPECT_EQ(list.ranges[1].first, list.ranges[1].last);
    EXPECT_EQ(list.ipv6, 2u);
    EXPECT_EQ(list.unrecognised, 1u);  // a prefix over 32
    EXPECT_EQ(RejectReason(list), "");
}

TEST(ListFormatsTest, P2pDescriptionsMayHoldColonsAndDashes) {
    const ParsedList list = Parse("Evil: corp - east:1.2.3.4-1.2.3.9\n:5.5.5.5-5.5.5.6\n");
    ASSERT_EQ(list.ranges.size(), 2u);
    EXPECT_EQ(list.Description(list.ranges[0]), "Evil: corp - east");
    EXPECT_EQ(list.ranges[0].last, Ip(1, 2, 3, 9));
    EXPECT_EQ(list.ranges[1].length, 0u);
}

TEST(ListFormatsTest, BodiesThatAreNotListsAreRejected) {
    EXPECT_NE(RejectReason(Parse("")), "");
    EXPECT_NE(RejectReason(Parse("# only comments\n\n")), "");
    EXPECT_NE(RejectReason(Parse("<html><body>\n<p>Service unavailable</p>\n1.2.3.4\n</body></html>\n")), "");
    EXPECT_NE(RejectReason(Parse(std::string("\x00\x01\x02\xFF\xFE binary\n\x7F\x45\x4C\x46", 17))), "");
    // A list whose few odd lines are outnumbered by entries is a list.
    EXPECT_EQ(RejectReason(Parse("garbage\n1.2.3.4\n5.6.7.8\n")), "");
}

}  // namespace
