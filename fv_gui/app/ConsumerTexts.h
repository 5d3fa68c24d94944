// The texts the consumers show for a packet: log window lines, popup title and text, counters.
#pragma once

#include <cstdint>
#include <string>

#include "fv_contract/PacketEventRecord.h"
#include "fv_gui/logging/BlockedPacketView.h"

namespace fv {

struct BlockedTexts {
    std::string logLine;
    std::string popupTitle;
    std::string popupText;  // empty for a record of unknown direction
};

// `protocolName` is the protocol table's name for the record's protocol number.
BlockedTexts FormatBlockedTexts(const BlockedPacketView& view, const std::string& protocolName);

// `record` has its address in host order.
std::string FormatGrantedLine(const PacketEventRecord& record, const std::string& protocolName);

// A port in network order as decimal, or "--" for a protocol without ports.
std::string PortText(std::uint16_t networkOrderPort);

// "session / total + session".
std::string CounterText(std::int64_t session, std::int64_t total);

}  // namespace fv
