// The name of an IP protocol number for log lines and notifications.
#pragma once

#include <string>

namespace fv {

// One of the 103 names, or "Partly unassigned protocol [id: %d]". Only the low 8 bits count.
std::string ProtocolName(unsigned protocol);
// The name when the number has one, else nullptr.
const char* NamedProtocol(unsigned protocol);

}  // namespace fv
