#include "fv_drv/ndis/bpf/TcFilters.h"

#include <libmnl/libmnl.h>
#include <linux/pkt_sched.h>
#include <linux/rtnetlink.h>

#include <memory>
#include <vector>

namespace ndis::bpf_media {
namespace {

// Room for one read of a dump: the kernel fills up to a page or 32 KiB at a time.
constexpr std::size_t kReceiveRoom = 32768;

struct SocketClose {
    void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};
using Socket = std::unique_ptr<mnl_socket, SocketClose>;

struct Dump {
    unsigned filters = 0;
    static int Count(const nlmsghdr* nlh, void* data) {
        if (nlh->nlmsg_type == RTM_NEWTFILTER) ++static_cast<Dump*>(data)->filters;
        return MNL_CB_OK;
    }
};

// The number of filters under `parent`, or -1 when the kernel does not say.
int FiltersUnder(mnl_socket* socket, int ifindex, std::uint32_t parent, std::uint32_t sequence) {
    std::vector<char> buffer(kReceiveRoom);
    nlmsghdr* nlh = mnl_nlmsg_put_header(buffer.data());
    nlh->nlmsg_type = RTM_GETTFILTER;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    nlh->nlmsg_seq = sequence;
    auto* message = static_cast<tcmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(tcmsg)));
    message->tcm_family = AF_UNSPEC;
    message->tcm_ifindex = ifindex;
    message->tcm_parent = parent;
    if (mnl_socket_sendto(socket, nlh, nlh->nlmsg_len) < 0) return -1;
    const unsigned port = mnl_socket_get_portid(socket);
    Dump dump;
    for (;;) {
        const ssize_t n = mnl_socket_recvfrom(socket, buffer.data(), buffer.size());
        if (n <= 0) return -1;
        const int rc = mnl_cb_run(buffer.data(), std::size_t(n), sequence, port, Dump::Count, &dump);
        if (rc == MNL_CB_STOP) return int(dump.filters);
        if (rc < 0) return -1;
    }
}

}  // namespace

bool HooksCarryFilters(int ifindex) {
    Socket socket(mnl_socket_open(NETLINK_ROUTE));
    if (!socket || mnl_socket_bind(socket.get(), 0, MNL_SOCKET_AUTOPID) < 0) return true;
    std::uint32_t sequence = 1;
    for (const std::uint32_t minor : {TC_H_MIN_INGRESS, TC_H_MIN_EGRESS}) {
        if (FiltersUnder(socket.get(), ifindex, TC_H_MAKE(TC_H_CLSACT, minor), sequence++) != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace ndis::bpf_media
