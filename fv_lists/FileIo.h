// Whole-file reads with a size limit, and writes that a reader never sees half done.
#pragma once

#include <cstddef>
#include <string>

namespace fv::lists {

// Reads the regular file at `path` into `bytes`; false with `error` set when it cannot be read
// or holds more than `maxBytes`.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& error);
// Writes `bytes` to a new file beside `path`, flushes it to disk and renames it over `path`, so
// that `path` always holds either the old or the new content. Creates missing folders.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);
// Creates `dir` and its missing parents (mode 0700 for the ones it makes).
bool MakeDirectories(const std::string& dir, std::string& error);

}  // namespace fv::lists
