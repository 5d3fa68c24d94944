#include "fv_gui/app/ConsumerTexts.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "fv_gui/blocklist/IpTable.h"

namespace fv {
namespace {

constexpr const char* kUnknownDirectionPrefix = "<NO_DIR!>";

struct DirectionTexts {
    const char* prefix;
    const char* verdict;
    const char* popupTitle;
    const char* popupFormat;  // null: no popup text
};

constexpr DirectionTexts kIncoming{
    "Packet from ", "rejected", "Ferrovane - Incoming packet",
    "A packet from \"%s\" (%s) has been rejected!\r\nIncoming via \"%s\" [src: %s / dst: %s]"};
constexpr DirectionTexts kOutgoing{
    "Packet to ", "blocked", "Ferrovane - Outgoing packet",
    "A packet to \"%s\" (%s) has been blocked!\r\nOutgoing via \"%s\" [src: %s / dst: %s]"};
constexpr DirectionTexts kUnknown{kUnknownDirectionPrefix, "<NO_POST_MSG!>", "No direction??",
                                  nullptr};

const DirectionTexts& TextsFor(std::uint8_t direction) {
    switch (direction) {
        case static_cast<std::uint8_t>(PacketDirection::Incoming):
            return kIncoming;
        case static_cast<std::uint8_t>(PacketDirection::Outgoing):
            return kOutgoing;
        default:
            return kUnknown;
    }
}

// printf into a string of whatever length the arguments need.
template <typename... Args>
std::string Format(const char* format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0) return {};
    std::vector<char> buffer(std::size_t(length) + 1);
    std::snprintf(buffer.data(), buffer.size(), format, args...);
    return std::string(buffer.data(), std::size_t(length));
}

// A fixed-size text field up to its terminator, never past its end.
template <std::size_t N>
std::string Field(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}

}  // namespace

std::string PortText(std::uint16_t networkOrderPort) {
    if (networkOrderPort == 0) return "--";
    return std::to_string(ntohs(networkOrderPort));
}

std::string CounterText(std::int64_t session, std::int64_t total) {
    return Format("%lld / %lld", static_cast<long long>(session),
                  static_cast<long long>(total + session));
}

BlockedTexts FormatBlockedTexts(const BlockedPacketView& view, const std::string& protocolName) {
    const DirectionTexts& texts = TextsFor(view.packet.direction);
    const std::string source = PortText(view.packet.firstPort);
    const std::string destination = PortText(view.packet.secondPort);
    const std::string description = Field(view.description);
    const std::string address = Field(view.addressText);
    BlockedTexts out;
    out.logLine = Format("%s \"%s\" ( %s ) %s. [protocol: %s - src: %s / dst: %s]", texts.prefix,
                         description.c_str(), address.c_str(), texts.verdict, protocolName.c_str(),
                         source.c_str(), destination.c_str());
    out.popupTitle = texts.popupTitle;
    if (texts.popupFormat != nullptr) {
        out.popupText = Format(texts.popupFormat, description.c_str(), address.c_str(),
                               protocolName.c_str(), source.c_str(), destination.c_str());
    }
    return out;
}

std::string FormatGrantedLine(const PacketEventRecord& record, const std::string& protocolName) {
    const DirectionTexts& texts = TextsFor(record.direction);
    const std::string address = FormatDottedAddress(record.remoteAddress);
    return Format("%s \" %s \" granted. [protocol: %s - src: %s / dst: %s]", texts.prefix,
                  address.c_str(), protocolName.c_str(), PortText(record.firstPort).c_str(),
                  PortText(record.secondPort).c_str());
}

}  // namespace fv
