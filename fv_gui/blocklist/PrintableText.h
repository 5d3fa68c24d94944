// Descriptions come from a file anyone may have written and end up in fvconns.log, which is
// read with `cat`, `less -R` and `tail -f` in terminals: a control character there would act
// on the terminal instead of being shown.
#pragma once

#include <cstddef>

namespace fv {

// The character written in place of a control character.
inline constexpr char kControlReplacement = '?';

// True when the `length` bytes at `text` are printable ASCII only (0x20-0x7E).
bool IsPrintableAscii(const char* text, std::size_t length);

// Replaces control characters in place with kControlReplacement, one for each, and returns the
// new length (never more than `length`): C0 controls and DEL; a C1 control (U+0080-U+009F,
// among them CSI, OSC and DCS) encoded in UTF-8; and a byte 0x80-0x9F that is not part of a
// well-formed UTF-8 sequence, which 8-bit terminals take as a C1 control (0x9B is CSI). Other
// bytes stay as they are, UTF-8 characters and single high bytes of 0xA0 and above alike.
std::size_t ReplaceControlCharacters(char* text, std::size_t length);

}  // namespace fv
