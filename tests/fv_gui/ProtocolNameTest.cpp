#include "fv_gui/logging/ProtocolName.h"

#include <gtest/gtest.h>

namespace {

TEST(ProtocolName, CommonNumbers) {
    EXPECT_EQ(fv::ProtocolName(6), "TCP");
    EXPECT_EQ(fv::ProtocolName(17), "UDP");
    EXPECT_EQ(fv::ProtocolName(1), "ICMP");
    EXPECT_EQ(fv::ProtocolName(0), "IP");
}

TEST(ProtocolName, NamesAsTheyStand) {
    EXPECT_EQ(fv::ProtocolName(27), "RDP (Reliable Data protocol)");
    EXPECT_EQ(fv::ProtocolName(44), "IPv& Fragmentation");
    EXPECT_EQ(fv::ProtocolName(51), "IPv& Auth Header");
    EXPECT_EQ(fv::ProtocolName(63), "'HELLO' Routing Protocol");
    EXPECT_EQ(fv::ProtocolName(77), "ND (temp.)");
    EXPECT_EQ(fv::ProtocolName(100), "GMTP");
    EXPECT_EQ(fv::ProtocolName(103), "PIM");
    EXPECT_EQ(fv::ProtocolName(108), "IPCOMP");
    EXPECT_EQ(fv::ProtocolName(113), "PGM");
}

TEST(ProtocolName, Fallback) {
    EXPECT_EQ(fv::ProtocolName(5), "Partly unassigned protocol [id: 5]");
    EXPECT_EQ(fv::ProtocolName(101), "Partly unassigned protocol [id: 101]");
    EXPECT_EQ(fv::ProtocolName(255), "Partly unassigned protocol [id: 255]");
    EXPECT_EQ(fv::ProtocolName(0x106), "TCP");  // only the low 8 bits count
}

TEST(ProtocolName, ExactlyOneHundredThreeNames) {
    int named = 0;
    for (unsigned n = 0; n < 256; ++n) named += fv::NamedProtocol(n) != nullptr;
    EXPECT_EQ(named, 103);
}

}  // namespace
