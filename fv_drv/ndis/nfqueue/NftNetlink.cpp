#include "fv_drv/ndis/nfqueue/NftNetlink.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>

#include <array>
#include <cerrno>
#include <vector>

namespace ndis::nfqueue_media::nft {
namespace {

// Room for one read of a dump: the kernel fills up to a page or 32 KiB at a time.
constexpr std::size_t kReceiveRoom = 32768;
// A request: a few names and the batch around them.
constexpr std::size_t kRequestRoom = 4096;

constexpr std::uint16_t Type(int message) {
    return std::uint16_t(NFNL_SUBSYS_NFTABLES << 8 | message);
}

nlmsghdr* Put(char* at, std::uint16_t type, std::uint16_t flags, std::uint8_t family,
              std::uint32_t sequence, std::uint16_t resource = 0) {
    nlmsghdr* nlh = mnl_nlmsg_put_header(at);
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = std::uint16_t(NLM_F_REQUEST | flags);
    nlh->nlmsg_seq = sequence;
    auto* header = static_cast<nfgenmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(nfgenmsg)));
    header->nfgen_family = family;
    header->version = NFNETLINK_V0;
    header->res_id = htons(resource);
    return nlh;
}

// Keeps each attribute of a message by its type.
template <std::size_t N>
struct Attributes {
    std::array<const nlattr*, N + 1> at{};
    static int Keep(const nlattr* attribute, void* data) {
        auto* self = static_cast<Attributes*>(data);
        const int type = mnl_attr_get_type(attribute);
        if (type >= 0 && std::size_t(type) <= N) self->at[std::size_t(type)] = attribute;
        return MNL_CB_OK;
    }
    explicit Attributes(const nlmsghdr* nlh) {
        mnl_attr_parse(nlh, sizeof(nfgenmsg), Keep, this);
    }
    const nlattr* operator[](int type) const { return at[std::size_t(type)]; }
};

class Session {
public:
    Session() : socket_(mnl_socket_open(NETLINK_NETFILTER)) {
        if (socket_ != nullptr && mnl_socket_bind(socket_, 0, MNL_SOCKET_AUTOPID) < 0) {
            mnl_socket_close(socket_);
            socket_ = nullptr;
        }
    }
    ~Session() {
        if (socket_ != nullptr) mnl_socket_close(socket_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::uint32_t Next() { return ++sequence_; }

    // Sends and reads the answers up to the acknowledgement or the dump's end. 0 or errno.
    int Exchange(const void* request, std::size_t length, std::uint32_t sequence,
                 mnl_cb_t callback = nullptr, void* data = nullptr) {
        if (socket_ == nullptr) return EIO;
        if (mnl_socket_sendto(socket_, request, length) < 0) return errno;
        std::vector<char> reply(kReceiveRoom);
        const unsigned portid = mnl_socket_get_portid(socket_);
        for (;;) {
            const ssize_t n = mnl_socket_recvfrom(socket_, reply.data(), reply.size());
            if (n < 0) return errno;
            errno = 0;
            const int run = mnl_cb_run(reply.data(), std::size_t(n), sequence, portid, callback, data);
            if (run < 0) return errno != 0 ? errno : EIO;
            if (run == MNL_CB_STOP) return 0;
        }
    }

private:
    mnl_socket* socket_;
    std::uint32_t sequence_ = 0;
};

int Ask(int message, std::uint16_t flags, const std::string& table, const std::string& chain,
        mnl_cb_t callback, void* data) {
    Session session;
    std::vector<char> request(kRequestRoom);
    const std::uint32_t sequence = session.Next();
    nlmsghdr* nlh = Put(request.data(), Type(message), flags, NFPROTO_IPV4, sequence);
    if (message == NFT_MSG_GETTABLE) {
        mnl_attr_put_strz(nlh, NFTA_TABLE_NAME, table.c_str());
    } else if (message == NFT_MSG_GETCHAIN) {
        mnl_attr_put_strz(nlh, NFTA_CHAIN_TABLE, table.c_str());
        mnl_attr_put_strz(nlh, NFTA_CHAIN_NAME, chain.c_str());
    } else if (message == NFT_MSG_GETRULE) {
        mnl_attr_put_strz(nlh, NFTA_RULE_TABLE, table.c_str());
    }
    return session.Exchange(nlh, nlh->nlmsg_len, sequence, callback, data);
}

}  // namespace

std::optional<std::uint32_t> Generation() {
    Session session;
    std::vector<char> request(kRequestRoom);
    const std::uint32_t sequence = session.Next();
    nlmsghdr* nlh = Put(request.data(), Type(NFT_MSG_GETGEN), NLM_F_ACK, AF_UNSPEC, sequence);
    std::optional<std::uint32_t> generation;
    const auto keep = [](const nlmsghdr* reply, void* data) -> int {
        const Attributes<NFTA_GEN_MAX> a(reply);
        if (a[NFTA_GEN_ID] != nullptr && mnl_attr_get_payload_len(a[NFTA_GEN_ID]) == 4) {
            *static_cast<std::optional<std::uint32_t>*>(data) = ntohl(mnl_attr_get_u32(a[NFTA_GEN_ID]));
        }
        return MNL_CB_OK;
    };
    if (session.Exchange(nlh, nlh->nlmsg_len, sequence, keep, &generation) != 0) return {};
    return generation;
}

bool TableExists(const std::string& table) {
    return Ask(NFT_MSG_GETTABLE, NLM_F_ACK, table, {}, nullptr, nullptr) == 0;
}

std::optional<ChainState> QueryChain(const std::string& table, const std::string& chain) {
    ChainState state;
    const auto keep = [](const nlmsghdr* reply, void* data) -> int {
        auto& s = *static_cast<ChainState*>(data);
        const Attributes<NFTA_CHAIN_MAX> a(reply);
        s.exists = true;
        s.base = a[NFTA_CHAIN_HOOK] != nullptr;
        s.acceptPolicy = s.base && a[NFTA_CHAIN_POLICY] != nullptr &&
                         mnl_attr_get_payload_len(a[NFTA_CHAIN_POLICY]) == 4 &&
                         ntohl(mnl_attr_get_u32(a[NFTA_CHAIN_POLICY])) == NF_ACCEPT;
        return MNL_CB_OK;
    };
    const int error = Ask(NFT_MSG_GETCHAIN, NLM_F_ACK, table, chain, keep, &state);
    if (error == ENOENT) return ChainState{};
    if (error != 0) return {};
    return state;
}

int DeleteIfEmpty(const std::string& table, const std::string& chain) {
    Session session;
    std::vector<char> request(kRequestRoom);
    mnl_nlmsg_batch* batch = mnl_nlmsg_batch_start(request.data(), request.size());
    const std::uint32_t sequence = session.Next();
    Put(static_cast<char*>(mnl_nlmsg_batch_current(batch)), NFNL_MSG_BATCH_BEGIN, 0, AF_UNSPEC,
        sequence, NFNL_SUBSYS_NFTABLES);
    mnl_nlmsg_batch_next(batch);
    // Without NLM_F_NONREC the kernel would take whatever is inside along.
    nlmsghdr* nlh = Put(static_cast<char*>(mnl_nlmsg_batch_current(batch)),
                        Type(chain.empty() ? NFT_MSG_DELTABLE : NFT_MSG_DELCHAIN),
                        NLM_F_ACK | NLM_F_NONREC, NFPROTO_IPV4, sequence);
    if (chain.empty()) {
        mnl_attr_put_strz(nlh, NFTA_TABLE_NAME, table.c_str());
    } else {
        mnl_attr_put_strz(nlh, NFTA_CHAIN_TABLE, table.c_str());
        mnl_attr_put_strz(nlh, NFTA_CHAIN_NAME, chain.c_str());
    }
    mnl_nlmsg_batch_next(batch);
    Put(static_cast<char*>(mnl_nlmsg_batch_current(batch)), NFNL_MSG_BATCH_END, 0, AF_UNSPEC,
        sequence, NFNL_SUBSYS_NFTABLES);
    mnl_nlmsg_batch_next(batch);
    const int error = session.Exchange(mnl_nlmsg_batch_head(batch), mnl_nlmsg_batch_size(batch),
                                       sequence);
    mnl_nlmsg_batch_stop(batch);
    return error;
}

std::optional<std::map<std::string, int>> RulesPerChain(const std::string& table) {
    if (!TableExists(table)) return {};
    std::map<std::string, int> counts;
    struct Count {
        const std::string& table;
        std::map<std::string, int>& counts;
    } tally{table, counts};
    const auto count = [](const nlmsghdr* reply, void* data) -> int {
        auto& t = *static_cast<Count*>(data);
        const Attributes<NFTA_RULE_MAX> a(reply);
        const nlattr* inTable = a[NFTA_RULE_TABLE];
        const nlattr* inChain = a[NFTA_RULE_CHAIN];
        if (inTable != nullptr && inChain != nullptr &&
            mnl_attr_validate(inTable, MNL_TYPE_NUL_STRING) == 0 &&
            mnl_attr_validate(inChain, MNL_TYPE_NUL_STRING) == 0 &&
            t.table == mnl_attr_get_str(inTable)) {
            ++t.counts[mnl_attr_get_str(inChain)];
        }
        return MNL_CB_OK;
    };
    if (Ask(NFT_MSG_GETRULE, NLM_F_DUMP, table, {}, count, &tally) != 0) return {};
    return counts;
}

}  // namespace ndis::nfqueue_media::nft
