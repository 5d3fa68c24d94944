/* What the kernel program and the daemon share: map layouts and record kinds. Plain C, so that
 * both the BPF object and the C++ side include it. */
#ifndef FV_KERNEL_SHARED_H
#define FV_KERNEL_SHARED_H

#ifdef __cplusplus
#include <cstdint>
typedef std::uint32_t fv_u32;
typedef std::uint64_t fv_u64;
#else
typedef __u32 fv_u32;
typedef __u64 fv_u64;
#endif

/* The loader's largest table. */
#define FV_MAX_RANGES 524280u
/* A table map holds its count in slot 0 and its entries from slot 1 on. */
#define FV_TABLE_SLOTS (FV_MAX_RANGES + 1u)
/* Probes FindRange may take over the largest table, with one to spare. */
#define FV_MAX_PROBES 21
/* Records waiting for the daemon: about 170,000 of them. */
#define FV_RECORD_BUFFER_BYTES (1u << 22)
/* The daemon is woken once this much waits (about 2,700 records); less it collects on its own
 * every FV_RECORD_COLLECT_MS, so that a stream of records does not wake it for each one. */
#define FV_RECORD_WAKEUP_BYTES (1u << 16)
#define FV_RECORD_COLLECT_MS 20

/* Set by the daemon; read by every packet. */
struct fv_switches {
    fv_u32 filtering;       /* the driver's FilteringEnabled */
    fv_u32 report_blocked;  /* reporting on and an event to signal */
    fv_u32 report_granted;
    fv_u32 spare;
};

/* Counted by every packet, per CPU. Wide, so that no CPU's share wraps; the daemon sums and
 * truncates to the driver's 32 bits. */
struct fv_counters {
    fv_u64 sent;
    fv_u64 sent_blocked;
    fv_u64 received;
    fv_u64 received_blocked;
    fv_u64 lost_records;  /* the record buffer was full */
};

/* Kept for the daemon only, in the kernel so that a restarted daemon finds it: the counts a
 * reset took away (a reset stays exact while CPUs go on counting), the report switches as the
 * program set them, and whether the daemon made the interface's clsact qdisc. */
struct fv_keep {
    fv_u64 sent;
    fv_u64 sent_blocked;
    fv_u64 received;
    fv_u64 received_blocked;
    fv_u32 report_blocked;
    fv_u32 report_granted;
    fv_u32 owns_hook;
    fv_u32 spare;
};

/* The record buffer carries the driver's 12-byte record; its first spare byte says which ring
 * it belongs to (the daemon clears it again). */
#define FV_RECORD_KIND_OFFSET 10
#define FV_RECORD_GRANTED 0
#define FV_RECORD_BLOCKED 1

#endif
