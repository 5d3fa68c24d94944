/* The per-packet decision in the kernel, on an interface's traffic-control hooks. It decides
 * and counts each frame as the driver's FilterPacket does for a frame of the linux medium, over
 * the table and switches the daemon keeps in the maps below. */
#include <linux/bpf.h>
#include <linux/if_ether.h>
#include <linux/pkt_cls.h>
#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>

#include "KernelShared.h"

char LICENSE[] SEC("license") = "GPL";

struct range_entry {
    __u32 first;
    __u32 span;
};

/* Each upload is a new map of exactly its size; the daemon swaps it into the one slot of
 * `tables`, so a packet sees the whole old table or the whole new one. */
struct table_map {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(map_flags, BPF_F_INNER_MAP | BPF_F_MMAPABLE);
    __uint(max_entries, FV_TABLE_SLOTS);
    __uint(key_size, sizeof(__u32));
    __uint(value_size, sizeof(struct range_entry));
};

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY_OF_MAPS);
    __uint(max_entries, 1);
    __type(key, __u32);
    __array(values, struct table_map);
} tables SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct fv_switches);
} switches SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct fv_counters);
} counters SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_ARRAY);
    __uint(max_entries, 1);
    __type(key, __u32);
    __type(value, struct fv_keep);
} keep SEC(".maps");

struct {
    __uint(type, BPF_MAP_TYPE_RINGBUF);
    __uint(max_entries, FV_RECORD_BUFFER_BYTES);
} records SEC(".maps");

/* The driver's 12-byte record, its first spare byte naming the ring. */
struct record {
    __u32 remote_address;
    __u16 first_port;
    __u16 second_port;
    __u8 direction;
    __u8 protocol;
    __u8 kind;
    __u8 spare;
};

#define ETHER_TYPE_OFFSET 12
#define IP_HEADER_OFFSET 14
#define IP_HEADER_LENGTH 20
#define PORTS_OFFSET (IP_HEADER_OFFSET + IP_HEADER_LENGTH)
#define IP_PROTOCOL_OFFSET 9
#define IP_SOURCE_OFFSET 12
#define IP_DESTINATION_OFFSET 16
#define PROTOCOL_TCP 6
#define PROTOCOL_UDP 17

/* Passing leaves the frame to any filter after ours on the hook. */
#define VERDICT_PASS TC_ACT_UNSPEC
#define VERDICT_BLOCK TC_ACT_SHOT

/* FindRange over the table in force: the same probes in the same order, so that overlapping
 * entries hide the same addresses. */
static __always_inline int in_table(void *table, __u32 key)
{
    __u32 slot = 0;
    const struct range_entry *e = bpf_map_lookup_elem(table, &slot);
    if (!e)
        return 0;
    __u32 low = 1; /* slot of the first candidate */
    __u32 n = e->first;
    for (int probe = 0; probe < FV_MAX_PROBES; ++probe) {
        if (n <= 1)
            break;
        const __u32 left = (n - 1) / 2;
        __u32 mid = low + left;
        e = bpf_map_lookup_elem(table, &mid);
        if (!e)
            return 0;
        const __u32 first = e->first;
        if (key == first || (key > first && key <= (__u32)(first + e->span)))
            return 1;
        if (key < first) {
            n = left;
        } else {
            low = mid + 1;
            n = n / 2;
        }
    }
    if (n != 1)
        return 0;
    e = bpf_map_lookup_elem(table, &low);
    if (!e)
        return 0;
    return key == e->first || (key > e->first && key <= (__u32)(e->first + e->span));
}

/* The frame's first bytes as the decision reads them: up to the two ports after a 20-byte IP
 * header. */
struct head {
    __u8 addresses[ETHER_TYPE_OFFSET];
    __u16 ether_type;
    __u8 ip[IP_HEADER_LENGTH];
    __u16 ports[2];
};
_Static_assert(sizeof(struct head) == PORTS_OFFSET + 4, "the head is the frame's first bytes");

#define HEAD_NONE 0
#define HEAD_IP 1    /* through the IP header */
#define HEAD_PORTS 2 /* through the ports */

/* How much of `h` the frame fills. Read in place when the kernel holds those bytes together,
 * as it does for nearly every frame; a helper call per piece otherwise. */
static __always_inline int read_head(struct __sk_buff *skb, struct head *h)
{
    const void *data = (const void *)(long)skb->data;
    const void *end = (const void *)(long)skb->data_end;
    if (data + sizeof *h <= end) {
        __builtin_memcpy(h, data, sizeof *h);
        return HEAD_PORTS;
    }
    if (bpf_skb_load_bytes(skb, ETHER_TYPE_OFFSET, &h->ether_type, sizeof h->ether_type) != 0 ||
        bpf_skb_load_bytes(skb, IP_HEADER_OFFSET, h->ip, sizeof h->ip) != 0)
        return HEAD_NONE;
    if (bpf_skb_load_bytes(skb, PORTS_OFFSET, h->ports, sizeof h->ports) != 0)
        return HEAD_IP;
    return HEAD_PORTS;
}

/* A record's room in the buffer: its own header, and its length rounded up to 8 bytes. */
#define RECORD_ROOM (BPF_RINGBUF_HDR_SZ + ((sizeof(struct record) + 7) & ~7u))

/* The daemon is woken by the record that fills the buffer past the mark, not by every record
 * after it: each wake-up interrupts the CPU, and the daemon takes all that waits at once. */
static __always_inline void report(struct fv_counters *c, const struct record *r)
{
    const __u64 waiting = bpf_ringbuf_query(&records, BPF_RB_AVAIL_DATA);
    const __u64 wake = waiting < FV_RECORD_WAKEUP_BYTES &&
                               waiting + RECORD_ROOM >= FV_RECORD_WAKEUP_BYTES
                           ? BPF_RB_FORCE_WAKEUP
                           : BPF_RB_NO_WAKEUP;
    if (bpf_ringbuf_output(&records, (void *)r, sizeof *r, wake) != 0)
        ++c->lost_records;
}

static __always_inline int decide(struct __sk_buff *skb, const int outgoing)
{
    __u32 zero = 0;
    /* Never read here; the reference makes the map the program's, so that a restarted daemon
     * finds it among the program's maps. */
    if (!bpf_map_lookup_elem(&keep, &zero))
        return VERDICT_PASS;
    struct fv_counters *c = bpf_map_lookup_elem(&counters, &zero);
    const struct fv_switches *sw = bpf_map_lookup_elem(&switches, &zero);
    if (!c || !sw)
        return VERDICT_PASS;
    if (outgoing)
        ++c->sent;
    else
        ++c->received;
    void *table = bpf_map_lookup_elem(&tables, &zero);
    if (!table || !sw->filtering)
        return VERDICT_PASS;

    /* The driver sees a tag the kernel moved into metadata put back in the frame, so its type
     * field holds the tag's protocol: never IPv4. */
    if (skb->vlan_present)
        return VERDICT_PASS;
    struct head h;
    const int read = read_head(skb, &h);
    if (read < HEAD_IP || h.ether_type != bpf_htons(ETH_P_IP) || (h.ip[0] >> 4) != 4)
        return VERDICT_PASS;

    /* Ports sit right after a 20-byte header whatever its real length: options and fragments
     * are read as the driver reads them. */
    const __u8 protocol = h.ip[IP_PROTOCOL_OFFSET];
    __u16 ports[2] = {0, 0};
    if (read == HEAD_PORTS && (protocol == PROTOCOL_TCP || protocol == PROTOCOL_UDP)) {
        ports[0] = h.ports[0];
        ports[1] = h.ports[1];
    }
    __u32 remote;
    __builtin_memcpy(&remote, h.ip + (outgoing ? IP_DESTINATION_OFFSET : IP_SOURCE_OFFSET),
                     sizeof remote);

    struct record r = {
        .remote_address = remote,
        .first_port = ports[0],
        .second_port = ports[1],
        .direction = outgoing ? 1 : 0,
        .protocol = protocol,
    };
    if (in_table(table, bpf_ntohl(remote))) {
        if (outgoing)
            ++c->sent_blocked;
        else
            ++c->received_blocked;
        if (sw->report_blocked) {
            r.kind = FV_RECORD_BLOCKED;
            report(c, &r);
        }
        return VERDICT_BLOCK;
    }
    if (sw->report_granted) {
        r.kind = FV_RECORD_GRANTED;
        report(c, &r);
    }
    return VERDICT_PASS;
}

SEC("tc")
int fv_ingress(struct __sk_buff *skb)
{
    return decide(skb, 0);
}

SEC("tc")
int fv_egress(struct __sk_buff *skb)
{
    return decide(skb, 1);
}
