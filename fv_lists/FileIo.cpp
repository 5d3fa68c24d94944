#include "fv_lists/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fv_platform/UniqueFd.h"

namespace fv::lists {
namespace {

constexpr std::size_t kReadChunk = std::size_t{1} << 20;
constexpr mode_t kDirMode = 0700;
constexpr mode_t kFileMode = 0644;

std::string Describe(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string(slash == 0 ? "/" : ".") : path.substr(0, slash);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes, std::string& error) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        error = Describe("cannot open", path);
        return false;
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        error = path + " is not a regular file";
        return false;
    }
    bytes.clear();
    // Sized once from the file: growing a large buffer step by step copies it again and again.
    // One byte more than the file, so that its end is seen without growing.
    const std::size_t expected = static_cast<std::size_t>(status.st_size);
    if (expected > maxBytes) {
        error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    bytes.reserve(expected + 1);
    for (;;) {
        if (bytes.size() > maxBytes) {
            error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        const std::size_t had = bytes.size();
        const std::size_t room = bytes.capacity() > had ? bytes.capacity() - had : kReadChunk;
        bytes.resize(had + room);
        const ssize_t got = ::read(fd.Get(), bytes.data() + had, room);
        if (got < 0 && errno == EINTR) {
            bytes.resize(had);
            continue;
        }
        if (got < 0) {
            error = Describe("cannot read", path);
            return false;
        }
        bytes.resize(had + static_cast<std::size_t>(got));
        if (got == 0) return true;
    }
}

bool MakeDirectories(const std::string& dir, std::string& error) {
    struct stat status {};
    if (dir.empty() || ::stat(dir.c_str(), &status) == 0) return true;
    if (!MakeDirectories(ParentOf(dir), error)) return false;
    if (::mkdir(dir.c_str(), kDirMode) != 0 && errno != EEXIST) {
        error = Describe("cannot create", dir);
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    const std::string dir = ParentOf(path);
    if (!MakeDirectories(dir, error)) return false;
    std::string temporary = path + ".XXXXXX";
    const UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        error = Describe("cannot create a file beside", path);
        return false;
    }
    bool ok = ::fchmod(fd.Get(), kFileMode) == 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t put = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        ok = put > 0;
        if (ok) done += static_cast<std::size_t>(put);
    }
    ok = ok && ::fsync(fd.Get()) == 0;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = Describe("cannot write", path);
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself survives a crash only once the folder is on disk.
    const UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Valid()) (void)::fsync(folder.Get());
    return true;
}

}  // namespace fv::lists
