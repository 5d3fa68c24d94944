#include "fv_platform/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fv {

namespace {

// The log lists every address the machine talked to: for its owner's eyes only.
constexpr mode_t kNewFileMode = 0600;

}  // namespace

bool WriteAll(int fd, const void* data, std::size_t size, WriteFunction write) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, p, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        p += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

LockedFile LockedFile::OpenForAppend(const std::string& path) {
    // A link planted in a shared folder would have our lines appended wherever it points, and a
    // FIFO would hold the open (and then every write) until someone reads it.
    UniqueFd fd(::open(path.c_str(),
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                       kNewFileMode));
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return {};
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return {};
    return LockedFile(std::move(fd));
}

bool LockedFile::IsUnshared(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.Valid() && ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0;
}

bool LockedFile::Write(std::string_view text) {
    return fd_.Valid() && WriteAll(fd_.Get(), text.data(), text.size());
}

void LockedFile::SeekEnd() {
    if (fd_.Valid()) ::lseek(fd_.Get(), 0, SEEK_END);
}

void LockedFile::SyncAndClose() {
    if (fd_.Valid()) ::fsync(fd_.Get());
    fd_.Reset();
}

}  // namespace fv
