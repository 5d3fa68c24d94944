// Compressed list bodies, recognised by their content: gzip (zlib) and zip (libarchive).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fv::lists {

enum class Packing { Plain, Gzip, Zip };

Packing SniffPacking(std::string_view body);

// Replaces a compressed `body` with its content (a zip archive: its regular files one after
// the other). False with `error` set when it is damaged or its content exceeds `maxBytes`.
bool Unpack(std::string& body, std::size_t maxBytes, std::string& error);

}  // namespace fv::lists
