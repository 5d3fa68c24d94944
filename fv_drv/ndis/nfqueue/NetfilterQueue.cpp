#include "fv_drv/ndis/nfqueue/NetfilterQueue.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_queue.h>
#include <libnetfilter_queue/libnetfilter_queue.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fv_drv/ndis/nfqueue/QueueAdapter.h"

namespace ndis::nfqueue_media {
namespace {

// The filter reads the IPv4 header (at most 60 bytes) and the two ports after it: the rest of
// a packet is never copied out of the kernel.
constexpr int kCopiedBytes = 128;
// Room for one packet message: its attributes and the copied bytes.
constexpr std::size_t kMessageRoom = 4096;
// Packets the kernel holds for us before it drops further ones.
constexpr std::uint32_t kQueueLength = 4096;
// Socket buffer for bursts while the reader is busy.
constexpr int kReceiveBuffer = 8 << 20;
// A verdict message: header, queue header and the verdict attribute, with room to spare.
constexpr std::size_t kVerdictRoom = 64;
// Sends of one set of verdicts while the socket reports a passing shortage.
constexpr int kSendAttempts = 3;

constexpr std::uint16_t PacketMessageType() {
    return std::uint16_t(NFNL_SUBSYS_QUEUE << 8 | NFQNL_MSG_PACKET);
}

}  // namespace

NetfilterQueue::~NetfilterQueue() {
    Close();
}

void NetfilterQueue::Close() {
    if (socket_ != nullptr) mnl_socket_close(socket_);
    socket_ = nullptr;
}

int NetfilterQueue::Fd() const {
    return socket_ != nullptr ? mnl_socket_get_fd(socket_) : -1;
}

int NetfilterQueue::Configure(std::uint16_t number, bool bind) {
    std::vector<char> request(MNL_SOCKET_BUFFER_SIZE);
    nlmsghdr* nlh = nfq_nlmsg_put(request.data(), NFQNL_MSG_CONFIG, number);
    if (bind) {
        nfq_nlmsg_cfg_put_cmd(nlh, AF_INET, NFQNL_CFG_CMD_BIND);
    } else {
        nfq_nlmsg_cfg_put_params(nlh, NFQNL_COPY_PACKET, kCopiedBytes);
        nfq_nlmsg_cfg_put_qmaxlen(nlh, kQueueLength);
        // Unsplit segments. A full queue drops what comes next: letting packets pass unjudged
        // would open the filter to anyone who floods it.
        const std::uint32_t flags = NFQA_CFG_F_GSO;
        const std::uint32_t mask = NFQA_CFG_F_GSO | NFQA_CFG_F_FAIL_OPEN;
        mnl_attr_put_u32(nlh, NFQA_CFG_FLAGS, htonl(flags));
        mnl_attr_put_u32(nlh, NFQA_CFG_MASK, htonl(mask));
    }
    nlh->nlmsg_flags |= NLM_F_ACK;
    nlh->nlmsg_seq = ++sequence_;
    if (mnl_socket_sendto(socket_, nlh, nlh->nlmsg_len) < 0) return errno;
    const unsigned portid = mnl_socket_get_portid(socket_);
    std::vector<char> reply(MNL_SOCKET_BUFFER_SIZE);
    for (;;) {
        const ssize_t n = mnl_socket_recvfrom(socket_, reply.data(), reply.size());
        if (n < 0) return errno;
        const int run = mnl_cb_run(reply.data(), size_t(n), sequence_, portid, nullptr, nullptr);
        if (run < 0) return errno;
        if (run == MNL_CB_STOP) return 0;
    }
}

bool NetfilterQueue::Open(std::uint16_t first, std::string& error) {
    Close();
    socket_ = mnl_socket_open2(NETLINK_NETFILTER, SOCK_CLOEXEC);
    if (socket_ == nullptr || mnl_socket_bind(socket_, 0, MNL_SOCKET_AUTOPID) < 0) {
        error = std::string("netfilter queue socket: ") + std::strerror(errno);
        Close();
        return false;
    }
    const int one = 1;
    // A burst larger than the socket buffer costs packets, never the reader's next receive.
    setsockopt(Fd(), SOL_NETLINK, NETLINK_NO_ENOBUFS, &one, sizeof one);
    if (setsockopt(Fd(), SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) != 0) {
        setsockopt(Fd(), SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    }
    // A number bound by another socket answers EPERM (EBUSY when it is our own).
    int bound = EBUSY;
    for (unsigned i = 0; i < kQueueNumbersTried && (bound == EBUSY || bound == EPERM); ++i) {
        number_ = std::uint16_t(first + i);
        bound = Configure(number_, true);
    }
    if (bound == 0) bound = Configure(number_, false);
    if (bound != 0) {
        error = std::string("netfilter queue: ") + std::strerror(bound);
        Close();
        return false;
    }
    buffers_.assign(QueueAdapter::kBatch, std::vector<std::uint8_t>(kMessageRoom));
    headers_.assign(QueueAdapter::kBatch, mmsghdr{});
    vectors_.assign(QueueAdapter::kBatch, iovec{});
    verdicts_.assign(QueueAdapter::kBatch * kVerdictRoom, 0);
    return true;
}

std::size_t NetfilterQueue::Receive(std::span<QueuedPacket> out) {
    if (socket_ == nullptr || out.empty()) return 0;
    const unsigned wanted = unsigned(std::min(out.size(), headers_.size()));
    for (unsigned i = 0; i < wanted; ++i) {
        vectors_[i] = {buffers_[i].data(), buffers_[i].size()};
        headers_[i] = mmsghdr{};
        headers_[i].msg_hdr.msg_iov = &vectors_[i];
        headers_[i].msg_hdr.msg_iovlen = 1;
    }
    const int received = recvmmsg(Fd(), headers_.data(), wanted, MSG_DONTWAIT, nullptr);
    if (received <= 0) return 0;
    std::size_t count = 0;
    for (int i = 0; i < received && count < out.size(); ++i) {
        int length = int(headers_[i].msg_len);
        for (auto* nlh = reinterpret_cast<nlmsghdr*>(buffers_[std::size_t(i)].data());
             mnl_nlmsg_ok(nlh, length) && count < out.size(); nlh = mnl_nlmsg_next(nlh, &length)) {
            // Acknowledgements and errors of verdicts sent earlier are of no further use.
            if (nlh->nlmsg_type != PacketMessageType()) continue;
            nlattr* attributes[NFQA_MAX + 1] = {};
            if (nfq_nlmsg_parse(nlh, attributes) < 0 || attributes[NFQA_PACKET_HDR] == nullptr ||
                mnl_attr_get_payload_len(attributes[NFQA_PACKET_HDR]) <
                    sizeof(nfqnl_msg_packet_hdr)) {
                continue;
            }
            nfqnl_msg_packet_hdr header;
            std::memcpy(&header, mnl_attr_get_payload(attributes[NFQA_PACKET_HDR]), sizeof header);
            QueuedPacket& p = out[count++];
            p.id = ntohl(header.packet_id);
            p.outgoing = header.hook != NF_INET_PRE_ROUTING && header.hook != NF_INET_LOCAL_IN;
            p.data = nullptr;
            p.length = 0;
            if (const nlattr* payload = attributes[NFQA_PAYLOAD]; payload != nullptr) {
                p.data = static_cast<const std::uint8_t*>(mnl_attr_get_payload(payload));
                p.length = mnl_attr_get_payload_len(payload);
            }
        }
    }
    return count;
}

bool NetfilterQueue::Send(std::span<const VerdictMessage> messages) {
    if (socket_ == nullptr) return false;
    if (verdicts_.size() < messages.size() * kVerdictRoom) {
        verdicts_.resize(messages.size() * kVerdictRoom);
    }
    std::size_t used = 0;
    for (const VerdictMessage& m : messages) {
        nlmsghdr* nlh = nfq_nlmsg_put(reinterpret_cast<char*>(verdicts_.data() + used),
                                      m.coversEarlier ? NFQNL_MSG_VERDICT_BATCH : NFQNL_MSG_VERDICT,
                                      number_);
        nfq_nlmsg_verdict_put(nlh, int(m.id), m.verdict == Verdict::Accept ? NF_ACCEPT : NF_DROP);
        used += nlh->nlmsg_len;
    }
    if (used == 0) return true;
    // The kernel takes the messages of one send in order, all of them or, when the send
    // fails, none: a short-lived failure is tried again at once.
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        if (mnl_socket_sendto(socket_, verdicts_.data(), used) == ssize_t(used)) return true;
        if (errno != ENOBUFS && errno != EAGAIN && errno != EINTR) return false;
    }
    return false;
}

}  // namespace ndis::nfqueue_media
