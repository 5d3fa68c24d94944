#include "fv_drv/host/ProcessWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fv_drv/ndis/ndis_device.h"

namespace fv::host {
namespace {

int PidFd(pid_t pid) {
    return int(syscall(SYS_pidfd_open, pid, 0));
}

void Wake(int fd) {
    const std::uint64_t one = 1;
    if (write(fd, &one, sizeof one) != sizeof one) {
        // A full counter wakes the loop all the same.
    }
}

}  // namespace

void ProcessWatch::Watch(std::size_t slot, pid_t pid) {
    if (slot >= kSlots || pid <= 0) return;
    std::lock_guard guard(lock_);
    if (stopping_ || entries_[slot].pid == pid) return;
    fv::UniqueFd fd(PidFd(pid));
    if (!fd) {
        std::fprintf(stderr, "ferrovane-sys: cannot watch process %d: %s\n", int(pid),
                     std::strerror(errno));
        return;
    }
    if (!wake_) {
        wake_.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake_) return;
        thread_ = std::thread([this] { Loop(); });
    }
    retired_.push_back(std::move(entries_[slot].fd));
    entries_[slot] = {pid, std::move(fd)};
    Wake(wake_.Get());
}

void ProcessWatch::Stop() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        if (wake_) Wake(wake_.Get());
    }
    if (thread_.joinable()) thread_.join();
}

void ProcessWatch::Loop() {
    for (;;) {
        std::array<pollfd, kSlots + 1> fds{};
        std::array<pid_t, kSlots + 1> pids{};
        {
            std::lock_guard guard(lock_);
            if (stopping_) return;
            retired_.clear();
            fds[0] = {wake_.Get(), POLLIN, 0};
            for (std::size_t i = 0; i < kSlots; ++i) {
                fds[i + 1] = {entries_[i].fd.Get(), POLLIN, 0};  // -1: ignored
                pids[i + 1] = entries_[i].pid;
            }
        }
        if (poll(fds.data(), fds.size(), -1) < 0) continue;
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count;
            if (read(wake_.Get(), &count, sizeof count) < 0) {
                // Drained already.
            }
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            bool ended = false;
            {
                std::lock_guard guard(lock_);
                // Still watched: nobody replaced it meanwhile.
                for (const Entry& e : entries_) ended = ended || e.fd.Get() == fds[i].fd;
                for (Entry& e : entries_) {
                    if (!ended || e.pid != pids[i]) continue;
                    retired_.push_back(std::move(e.fd));
                    e.pid = 0;
                }
            }
            if (ended) ndis::host::ProcessEnded(ULONG(pids[i]));
        }
    }
}

}  // namespace fv::host
