#include "fv_drv/ndis/linux/LinuxLink.h"

// glibc's interface header must come before the kernel's.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/if_packet.h>
#include <linux/if_tun.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ndis::linux_media {
namespace {

constexpr const char* kTunDevice = "/dev/net/tun";

// A throw-away socket for interface ioctls.
class IoctlSocket {
public:
    IoctlSocket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    bool Call(unsigned long request, ifreq& ifr) const {
        return ioctl(fd_.Get(), request, &ifr) == 0;
    }

private:
    fv::UniqueFd fd_;
};

bool SetName(ifreq& ifr, const std::string& name) {
    std::memset(&ifr, 0, sizeof ifr);
    if (name.empty() || name.size() >= IFNAMSIZ) return false;
    std::memcpy(ifr.ifr_name, name.c_str(), name.size() + 1);
    return true;
}

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

bool QueryInterface(const std::string& name, InterfaceInfo& info, std::string& error) {
    ifreq ifr;
    if (!SetName(ifr, name)) {
        error = "bad interface name '" + name + "'";
        return false;
    }
    IoctlSocket s;
    if (!s.Call(SIOCGIFINDEX, ifr)) {
        error = ErrnoText("no interface " + name);
        return false;
    }
    info = {};
    info.name = name;
    info.index = ifr.ifr_ifindex;
    SetName(ifr, name);
    if (s.Call(SIOCGIFHWADDR, ifr)) {
        std::memcpy(info.mac.data(), ifr.ifr_hwaddr.sa_data, info.mac.size());
    }
    SetName(ifr, name);
    if (s.Call(SIOCGIFMTU, ifr)) info.mtu = ifr.ifr_mtu;
    SetName(ifr, name);
    if (s.Call(SIOCGIFFLAGS, ifr)) info.running = (ifr.ifr_flags & IFF_RUNNING) != 0;

    ethtool_drvinfo drv{};
    drv.cmd = ETHTOOL_GDRVINFO;
    SetName(ifr, name);
    ifr.ifr_data = reinterpret_cast<char*>(&drv);
    if (s.Call(SIOCETHTOOL, ifr)) {
        info.driver.assign(drv.driver, strnlen(drv.driver, sizeof drv.driver));
        info.busInfo.assign(drv.bus_info, strnlen(drv.bus_info, sizeof drv.bus_info));
    }
    return true;
}

std::string VendorDescription(const InterfaceInfo& info) {
    if (info.driver.empty()) return info.name;
    if (info.busInfo.empty() || info.busInfo == "N/A") return info.driver;
    return info.driver + " (" + info.busInfo + ")";
}

void FramePort::Close() {
    fd_.Reset();
}

void ShiftOffloadForTag(OffloadHeader& header) {
    // The kernel's virtio-net header values (its header does not compile as C++).
    constexpr std::uint8_t kNeedsChecksum = 1;
    constexpr std::uint8_t kNoSegmentation = 0;
    if ((header.flags & kNeedsChecksum) != 0) header.checksumStart += kVlanTagLength;
    if (header.gsoType != kNoSegmentation && header.headerLength != 0) {
        header.headerLength += kVlanTagLength;
    }
}

std::size_t InsertVlanTag(std::uint16_t protocol, std::uint16_t control, OffloadHeader& header,
                          std::uint8_t* frame, std::size_t length) {
    constexpr std::size_t kAddressesLength = 12;
    if (length < kAddressesLength) return length;
    std::memmove(frame + kAddressesLength + kVlanTagLength, frame + kAddressesLength,
                 length - kAddressesLength);
    const std::uint16_t tag[2] = {htons(protocol), htons(control)};
    std::memcpy(frame + kAddressesLength, tag, sizeof tag);
    ShiftOffloadForTag(header);
    return length + kVlanTagLength;
}

long FramePort::Receive(OffloadHeader& header, std::uint8_t* buffer, std::size_t capacity) {
    if (!socket_) {
        iovec parts[2] = {{&header, sizeof header}, {buffer, capacity}};
        ssize_t n;
        do {
            n = readv(fd_.Get(), parts, 2);
        } while (n < 0 && errno == EINTR);
        if (n < ssize_t(sizeof header)) return -1;
        return long(n - ssize_t(sizeof header));
    }
    // Room is kept for a tag that has to be put back.
    if (capacity < kVlanTagLength) return -1;
    iovec parts[2] = {{&header, sizeof header}, {buffer, capacity - kVlanTagLength}};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(tpacket_auxdata))];
    msghdr msg{};
    ssize_t n;
    do {
        msg = {};
        msg.msg_iov = parts;
        msg.msg_iovlen = 2;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        n = recvmsg(fd_.Get(), &msg, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < ssize_t(sizeof header)) return -1;
    std::size_t length = std::size_t(n) - sizeof header;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA ||
            c->cmsg_len < CMSG_LEN(sizeof(tpacket_auxdata))) {
            continue;
        }
        tpacket_auxdata aux;
        std::memcpy(&aux, CMSG_DATA(c), sizeof aux);
        if ((aux.tp_status & TP_STATUS_VLAN_VALID) == 0) continue;
        const std::uint16_t protocol = (aux.tp_status & TP_STATUS_VLAN_TPID_VALID) != 0
                                           ? aux.tp_vlan_tpid
                                           : kVlanTagProtocol;
        length = InsertVlanTag(protocol, aux.tp_vlan_tci, header, buffer, length);
    }
    return long(length);
}

bool FramePort::Send(const OffloadHeader& header, const std::uint8_t* frame, std::size_t length) {
    iovec parts[2] = {{const_cast<OffloadHeader*>(&header), sizeof header},
                      {const_cast<std::uint8_t*>(frame), length}};
    ssize_t n;
    do {
        n = writev(fd_.Get(), parts, 2);
    } while (n < 0 && errno == EINTR);
    return n == ssize_t(sizeof header + length);
}

bool FramePort::Send(const iovec* parts, std::size_t count) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) total += parts[i].iov_len;
    ssize_t n;
    do {
        n = writev(fd_.Get(), parts, int(count));
    } while (n < 0 && errno == EINTR);
    return n == ssize_t(total);
}

long FramePort::Receive(std::uint8_t* buffer, std::size_t capacity) {
    OffloadHeader ignored;
    return Receive(ignored, buffer, capacity);
}

bool FramePort::Send(const std::uint8_t* frame, std::size_t length) {
    return Send(OffloadHeader{}, frame, length);
}

bool PacketPort::Create(int interfaceIndex, PacketPort& port, std::string& error) {
    return CreateUnbound(port, error) && port.Bind(interfaceIndex, error);
}

bool PacketPort::CreateUnbound(PacketPort& port, std::string& error) {
    // No protocol yet: nothing is received before the socket is bound to its interface.
    const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = ErrnoText("packet socket");
        return false;
    }
    port = PacketPort();
    port.fd_.Reset(fd);
    port.socket_ = true;
    const int one = 1;
    // The auxiliary data carries the VLAN tag the kernel takes out of a received frame.
    if (setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one) != 0 ||
        setsockopt(fd, SOL_PACKET, PACKET_VNET_HDR, &one, sizeof one) != 0 ||
        setsockopt(fd, SOL_PACKET, PACKET_AUXDATA, &one, sizeof one) != 0) {
        error = ErrnoText("packet socket options");
        port.Close();
        return false;
    }
    return true;
}

bool PacketPort::Bind(int interfaceIndex, std::string& error) {
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = interfaceIndex;
    if (bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = ErrnoText("bind packet socket");
        Close();
        return false;
    }
    return true;
}

std::size_t PacketPort::SendBatch(std::vector<OutFrame>& frames, std::size_t count) {
    std::vector<iovec> parts(count * 2);
    std::vector<mmsghdr> messages(count);
    for (std::size_t i = 0; i < count; ++i) {
        parts[2 * i] = {&frames[i].header, sizeof(OffloadHeader)};
        parts[2 * i + 1] = {frames[i].bytes.data(), frames[i].bytes.size()};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &parts[2 * i];
        messages[i].msg_hdr.msg_iovlen = 2;
    }
    std::size_t sent = 0;
    while (sent < count) {
        const int n = sendmmsg(fd_.Get(), messages.data() + sent, unsigned(count - sent), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ++sent;  // the kernel refused this frame; the rest may still go
            continue;
        }
        sent += std::size_t(n);
    }
    return sent;
}

bool TapPort::Create(const std::string& name, const MacAddress& mac, int mtu, TapPort& port,
                     std::string& error) {
    ifreq ifr;
    if (!SetName(ifr, name)) {
        error = "bad TAP name '" + name + "'";
        return false;
    }
    const int fd = open(kTunDevice, O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = ErrnoText(kTunDevice);
        return false;
    }
    port = TapPort();
    port.fd_.Reset(fd);
    ifr.ifr_flags = IFF_TAP | IFF_NO_PI | IFF_VNET_HDR;
    const unsigned offloads = TUN_F_CSUM | TUN_F_TSO4 | TUN_F_TSO6 | TUN_F_TSO_ECN;
    if (ioctl(fd, TUNSETIFF, &ifr) != 0 || ioctl(fd, TUNSETOFFLOAD, offloads) != 0) {
        error = ErrnoText("create TAP " + name);
        port.Close();
        return false;
    }
    port.name_ = name;
    IoctlSocket s;
    SetName(ifr, name);
    ifr.ifr_hwaddr.sa_family = ARPHRD_ETHER;
    std::memcpy(ifr.ifr_hwaddr.sa_data, mac.data(), mac.size());
    bool ok = s.Call(SIOCSIFHWADDR, ifr);
    if (ok && mtu > 0) {
        SetName(ifr, name);
        ifr.ifr_mtu = mtu;
        ok = s.Call(SIOCSIFMTU, ifr);
    }
    SetName(ifr, name);
    if (ok) ok = s.Call(SIOCGIFFLAGS, ifr);
    if (ok) {
        ifr.ifr_flags |= IFF_UP;
        ok = s.Call(SIOCSIFFLAGS, ifr);
    }
    if (!ok) {
        error = ErrnoText("set up TAP " + name);
        port.Close();
        return false;
    }
    return true;
}

void UseBatchScheduling() {
    // Ordinary threads may choose it; it fails only on a kernel without it.
    const sched_param unused{};
    sched_setscheduler(0, SCHED_BATCH, &unused);
}

void RaiseForwardingPriority() {
    constexpr int kForwardingNice = -10;
    UseBatchScheduling();
    if (setpriority(PRIO_PROCESS, id_t(gettid()), kForwardingNice) == 0) return;
    // Forwarding still works at the ordinary priority; say so once, not once per thread.
    static std::atomic_flag reported = ATOMIC_FLAG_INIT;
    if (!reported.test_and_set()) {
        std::fprintf(stderr, "ferrovane-sys: forwarding at normal priority: %s\n",
                     ErrnoText("cannot set nice " + std::to_string(kForwardingNice)).c_str());
    }
}

bool LinkWatcher::Open(std::string& error) {
    fd_.Reset(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!fd_) {
        error = ErrnoText("netlink socket");
        return false;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK;
    if (bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = ErrnoText("bind netlink socket");
        fd_.Reset();
        return false;
    }
    return true;
}

bool LinkWatcher::Drain(int index) {
    bool concerned = false;
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
        const ssize_t n = recv(fd_.Get(), buffer, sizeof buffer, 0);
        if (n <= 0) break;
        // Walked by hand: the kernel's NLMSG_OK macro mixes signed and unsigned lengths.
        std::size_t at = 0;
        while (at + sizeof(nlmsghdr) <= std::size_t(n)) {
            const auto* h = reinterpret_cast<const nlmsghdr*>(buffer + at);
            if (h->nlmsg_len < sizeof(nlmsghdr) || at + h->nlmsg_len > std::size_t(n)) break;
            at += NLMSG_ALIGN(h->nlmsg_len);
            if (h->nlmsg_type != RTM_NEWLINK && h->nlmsg_type != RTM_DELLINK) continue;
            if (h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) continue;
            const auto* link = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
            if (link->ifi_index == index) concerned = true;
        }
    }
    return concerned;
}

}  // namespace ndis::linux_media
