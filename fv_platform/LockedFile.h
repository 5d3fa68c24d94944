// Files the program's core opens itself and guards with an advisory lock (flock): the
// connection log, held by one writer at a time, and the blocklist, checked for other holders
// before a session starts. Other programs may read a locked file; only lock-takers are refused.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "fv_platform/UniqueFd.h"

namespace fv {

using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);

// Writes all `size` bytes, again after a partial write or an interruption. False on an error,
// and on a write that takes nothing (it would take nothing the next time either).
[[nodiscard]] bool WriteAll(int fd, const void* data, std::size_t size, WriteFunction write = ::write);

class LockedFile {
public:
    LockedFile() = default;

    // Opens `path` for appending, creating it (mode 0600) when absent, and takes its exclusive
    // lock without waiting; an existing file keeps its mode. Invalid when the file cannot be
    // opened, is not a regular file (a symbolic link is not followed) or another writer holds it.
    [[nodiscard]] static LockedFile OpenForAppend(const std::string& path);
    // True when `path` opens for reading and nobody else holds a lock on it; it is closed again
    // at once.
    [[nodiscard]] static bool IsUnshared(const std::string& path);

    [[nodiscard]] bool Valid() const { return fd_.Valid(); }
    // One WriteAll of `text` at the end of the file.
    [[nodiscard]] bool Write(std::string_view text);
    void SeekEnd();
    // Flushes to the disk and closes (the lock goes with the descriptor).
    void SyncAndClose();
    void Close() { fd_.Reset(); }

private:
    explicit LockedFile(UniqueFd fd) : fd_(std::move(fd)) {}
    UniqueFd fd_;
};

}  // namespace fv
