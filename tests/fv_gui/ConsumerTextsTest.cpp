#include "fv_gui/app/ConsumerTexts.h"

#include <arpa/inet.h>

#include <cstring>

#include <gtest/gtest.h>

namespace {

fv::BlockedPacketView View(std::uint8_t direction, std::uint16_t source, std::uint16_t destination) {
    fv::BlockedPacketView view{};
    view.packet.remoteAddress = 0x0A000001;
    view.packet.firstPort = htons(source);
    view.packet.secondPort = htons(destination);
    view.packet.direction = direction;
    view.packet.protocol = 6;
    std::strcpy(view.description, "Example");
    std::strcpy(view.addressText, "10.0.0.1");
    return view;
}

TEST(ConsumerTextsTest, OutgoingBlockedPacket) {
    const auto texts = fv::FormatBlockedTexts(View(1, 1025, 80), "TCP");
    EXPECT_EQ(texts.logLine,
              "Packet to  \"Example\" ( 10.0.0.1 ) blocked. [protocol: TCP - src: 1025 / dst: 80]");
    EXPECT_EQ(texts.popupTitle, "Ferrovane - Outgoing packet");
    EXPECT_EQ(texts.popupText,
              "A packet to \"Example\" (10.0.0.1) has been blocked!\r\n"
              "Outgoing via \"TCP\" [src: 1025 / dst: 80]");
}

TEST(ConsumerTextsTest, PortlessAndUnknownDirections) {
    const auto icmp = fv::FormatBlockedTexts(View(0, 0, 0), "ICMP");
    EXPECT_EQ(icmp.logLine,
              "Packet from  \"Example\" ( 10.0.0.1 ) rejected. [protocol: ICMP - src: -- / dst: --]");

    const auto odd = fv::FormatBlockedTexts(View(7, 1, 2), "TCP");
    EXPECT_EQ(odd.logLine, "<NO_DIR!> \"Example\" ( 10.0.0.1 ) <NO_POST_MSG!>. [protocol: TCP - src: 1 / dst: 2]");
    EXPECT_EQ(odd.popupTitle, "No direction??");
    EXPECT_TRUE(odd.popupText.empty());
}

TEST(ConsumerTextsTest, UnterminatedFieldsStopAtTheirEnd) {
    auto view = View(1, 1, 2);
    std::memset(view.addressText, '7', sizeof view.addressText);
    const auto texts = fv::FormatBlockedTexts(view, "TCP");
    EXPECT_NE(texts.logLine.find("( 77777777777777777777 )"), std::string::npos);
}

TEST(ConsumerTextsTest, GrantedLineAndCounters) {
    PacketEventRecord record{};
    record.remoteAddress = 0xC0A80001;
    record.firstPort = htons(53);
    record.direction = 1;
    EXPECT_EQ(fv::FormatGrantedLine(record, "UDP"),
              "Packet to  \" 192.168.0.1 \" granted. [protocol: UDP - src: 53 / dst: --]");
    EXPECT_EQ(fv::CounterText(3, 40), "3 / 43");
    EXPECT_EQ(fv::CounterText(0, 0), "0 / 0");
}

}  // namespace
