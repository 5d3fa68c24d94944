// The kernel's decision against the driver's, frame by frame, through BPF_PROG_TEST_RUN: the same
// verdict, the same counters and the same records for every generated frame and table.
#include <bpf/bpf.h>
#include <gtest/gtest.h>
#include <linux/pkt_cls.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fv_drv/Driver/FilterEngine.h"
#include "fv_drv/ndis/bpf/KernelFilter.h"
#include "tests/fv_drv/FrameBuilder.h"

namespace {

using ndis::bpf_media::KernelFilter;

struct Verdict {
    bool blocked;
    std::vector<std::pair<PacketEventRecord, bool>> records;  // record, blocked ring
};

std::string Hex(const std::vector<std::uint8_t>& frame) {
    std::string out;
    char byte[4];
    for (std::uint8_t b : frame) {
        std::snprintf(byte, sizeof byte, "%02x ", b);
        out += byte;
    }
    return out;
}

// Sorted by first address, with the shapes that make bisection go wrong: overlapping entries
// (one hiding another's addresses), adjacent ones, repeated firsts, single addresses, and
// entries whose end wraps past 255.255.255.255.
std::vector<RangeEntry> MakeTable(std::size_t count, std::mt19937& rng) {
    std::vector<RangeEntry> entries;
    entries.reserve(count);
    const std::uint32_t gap = std::uint32_t(0xFFFFFFFFull / (count + 1));
    std::uint32_t at = rng() % (gap + 1);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t span;
        switch (rng() % 10) {
            case 0: span = 0; break;
            case 1: span = gap * (1 + rng() % 4); break;  // covers later entries
            case 2: span = rng(); break;                   // may wrap
            default: span = rng() % (gap / 2 + 1); break;
        }
        entries.push_back({at, span});
        switch (rng() % 8) {
            case 0: break;  // the next one starts at the same address
            case 1: at = at + span + 1; break;  // adjacent
            default: at += 1 + rng() % (2 * gap); break;
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const RangeEntry& a, const RangeEntry& b) { return a.first < b.first; });
    return entries;
}

std::vector<std::uint8_t> Image(const std::vector<RangeEntry>& entries) {
    std::vector<std::uint8_t> image(RangeTableImageSize(entries.size()), 0);
    const auto count = std::uint32_t(entries.size());
    std::memcpy(image.data(), &count, sizeof count);
    if (!entries.empty()) {
        std::memcpy(image.data() + sizeof count, entries.data(), entries.size() * sizeof(RangeEntry));
    }
    return image;
}

class FrameMaker {
public:
    FrameMaker(std::mt19937& rng, const std::vector<RangeEntry>& table) : rng_(rng), table_(table) {}

    std::vector<std::uint8_t> Make(bool outgoing) {
        std::vector<std::uint8_t> f(kLongest);
        for (auto& b : f) b = std::uint8_t(rng_());
        const std::uint32_t kind = rng_() % 100;
        std::uint16_t etherType = 0x0800;
        if (kind < 5) etherType = 0x8100;  // tagged in the frame
        else if (kind < 8) etherType = 0x86DD;
        else if (kind < 12) etherType = std::uint16_t(rng_());
        f[12] = std::uint8_t(etherType >> 8);
        f[13] = std::uint8_t(etherType);
        std::uint8_t version = rng_() % 20 == 0 ? std::uint8_t(rng_() % 16) : 4;
        // Options in a fifth of the headers; the rest have none.
        std::uint8_t words = rng_() % 5 == 0 ? std::uint8_t(rng_() % 16) : 5;
        f[14] = std::uint8_t(version << 4 | words);
        if (rng_() % 4 != 0) {  // most unfragmented; the rest first, middle or last pieces
            f[20] = 0x40;
            f[21] = 0;
        }
        static constexpr std::uint8_t kProtocols[] = {6, 17, 1, 6, 17, 47};
        f[23] = rng_() % 10 == 0 ? std::uint8_t(rng_()) : kProtocols[rng_() % 6];
        Put(f, outgoing ? 30 : 26, Address());
        if (rng_() % 4 == 0) Put(f, outgoing ? 26 : 30, Address());
        std::size_t length;
        switch (rng_() % 10) {
            case 0: length = 14 + rng_() % 25; break;  // cut anywhere up to the ports
            case 1: length = 34 + rng_() % 4; break;   // cut in the ports
            case 2: length = 14 + rng_() % (kLongest - 13); break;
            default: length = 38 + rng_() % (kLongest - 37); break;
        }
        f.resize(length);
        return f;
    }

private:
    static constexpr std::size_t kLongest = 96;

    static void Put(std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t address) {
        for (int i = 0; i < 4; ++i) f[at + std::size_t(i)] = std::uint8_t(address >> (24 - 8 * i));
    }
    // Mostly the edges of entries, where an off-by-one shows.
    std::uint32_t Address() {
        const std::uint32_t pick = rng_() % 10;
        if (pick < 6 && !table_.empty()) {
            const RangeEntry& e = table_[rng_() % table_.size()];
            static constexpr std::int64_t kEdges[] = {-1, 0, 1};
            const std::uint32_t base = rng_() % 2 == 0 ? e.first : e.first + e.span;
            return std::uint32_t(base + std::uint32_t(kEdges[rng_() % 3]));
        }
        if (pick == 6) return rng_() % 2 == 0 ? 0u : 0xFFFFFFFFu;
        return rng_();
    }

    std::mt19937& rng_;
    const std::vector<RangeEntry>& table_;
};

// The test run refuses an IPv4 or IPv6 type without room for its header; such frames take the
// same failed read as frames cut anywhere else, which the other types cover.
bool TestRunTakes(const std::vector<std::uint8_t>& frame) {
    const unsigned type = unsigned(frame[12]) << 8 | frame[13];
    if (type == 0x0800) return frame.size() >= 14 + 20;
    if (type == 0x86DD) return frame.size() >= 14 + 40;
    return true;
}

class KernelDecisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "loading a BPF program needs root";
        std::string error;
        if (!kernel.Load(error)) GTEST_SKIP() << "BPF is not available here: " << error;
        fds[0] = eventfd(0, EFD_NONBLOCK);
        fds[1] = eventfd(0, EFD_NONBLOCK);
        EventRingRenew(state.BlockedRing);
        EventRingRenew(state.GrantedRing);
        NdisAllocateSpinLock(&lock);
    }
    void TearDown() override {
        EventRingRelease(state.BlockedRing);
        EventRingRelease(state.GrantedRing);
        SetEvents(false, false);
        for (int fd : fds) {
            if (fd >= 0) close(fd);
        }
    }

    void SetEvents(bool blocked, bool granted) {
        const auto set = [](PKEVENT& event, bool on, int fd) {
            if (event != nullptr) ObDereferenceObject(event);
            event = on ? ndis::host::CreateEventObject(fd) : nullptr;
        };
        set(state.BlockedEvent, blocked, fds[0]);
        set(state.GrantedEvent, granted, fds[1]);
    }

    void Install(const std::vector<std::uint8_t>* image) {
        std::string error;
        const auto* table = image == nullptr ? nullptr : reinterpret_cast<const RangeTable*>(image->data());
        ASSERT_TRUE(kernel.SetTable(table, error)) << error;
        FilterStateSetRanges(state, const_cast<RangeTable*>(table));
    }

    void PushSwitches() {
        ASSERT_TRUE(kernel.SetSwitches(state.FilteringEnabled != 0, state.ReportBlocked != 0,
                                       state.BlockedEvent != nullptr, state.ReportGranted != 0,
                                       state.GrantedEvent != nullptr));
    }

    Verdict Driver(std::vector<std::uint8_t> frame, bool outgoing) {
        fv::test::TestPacket packet(std::move(frame));
        Verdict v;
        v.blocked = FilterPacket(state, lock, packet.get(),
                                 outgoing ? PacketDirection::Outgoing : PacketDirection::Incoming,
                                 !outgoing) == kVerdictBlock;
        PacketEventRecord r;
        while (EventRingTake(state.BlockedRing, &r) == STATUS_SUCCESS) v.records.push_back({r, true});
        while (EventRingTake(state.GrantedRing, &r) == STATUS_SUCCESS) v.records.push_back({r, false});
        return v;
    }

    Verdict Kernel(std::vector<std::uint8_t> frame, bool outgoing) {
        LIBBPF_OPTS(bpf_test_run_opts, run, .data_in = frame.data(),
                    .data_size_in = std::uint32_t(frame.size()));
        const int rc = bpf_prog_test_run_opts(outgoing ? kernel.EgressFd() : kernel.IngressFd(), &run);
        EXPECT_EQ(rc, 0) << "test run failed: " << std::strerror(errno) << " size " << frame.size() << " " << Hex(frame);
        Verdict v;
        EXPECT_TRUE(int(run.retval) == TC_ACT_SHOT || int(run.retval) == TC_ACT_UNSPEC)
            << "verdict " << int(run.retval);
        v.blocked = int(run.retval) == TC_ACT_SHOT;
        kernel.TakeRecords([&](const PacketEventRecord& r, bool blocked) { v.records.push_back({r, blocked}); }, 0);
        // The driver's rings keep blocked and granted apart; compare in that order.
        std::stable_partition(v.records.begin(), v.records.end(), [](const auto& r) { return r.second; });
        return v;
    }

    // Both sides decide `frame`; false (with the frame printed) when they differ.
    bool Same(const std::vector<std::uint8_t>& frame, bool outgoing, const char* table) {
        if (!TestRunTakes(frame)) return true;
        ++compared;
        const Verdict d = Driver(frame, outgoing);
        const Verdict k = Kernel(frame, outgoing);
        bool same = d.blocked == k.blocked && d.records.size() == k.records.size();
        for (std::size_t i = 0; same && i < d.records.size(); ++i) {
            same = d.records[i].second == k.records[i].second &&
                   std::memcmp(&d.records[i].first, &k.records[i].first, sizeof(PacketEventRecord)) == 0;
        }
        if (!same) {
            ADD_FAILURE() << "table " << table << (outgoing ? ", outgoing" : ", incoming")
                          << ", filtering " << int(state.FilteringEnabled) << ", report "
                          << int(state.ReportBlocked) << int(state.ReportGranted) << ": driver "
                          << (d.blocked ? "blocks" : "passes") << " with " << d.records.size()
                          << " records, kernel " << (k.blocked ? "blocks" : "passes") << " with "
                          << k.records.size() << "\n  frame " << Hex(frame);
        }
        return same;
    }

    void ExpectSameCounts() {
        const auto counts = kernel.Counts();
        EXPECT_EQ(counts.sent, state.SentCount);
        EXPECT_EQ(counts.sentBlocked, state.SentBlockedCount);
        EXPECT_EQ(counts.received, state.ReceivedCount);
        EXPECT_EQ(counts.receivedBlocked, state.ReceivedBlockedCount);
        EXPECT_EQ(counts.lostRecords, 0u);
    }

    KernelFilter kernel;
    FilterState state;
    NDIS_SPIN_LOCK lock;
    int fds[2] = {-1, -1};
    std::size_t compared = 0;
};

constexpr std::size_t kFramesPerTable = 280000;  // four tables: over a million frames taken
constexpr std::size_t kSwitchEvery = 4096;

TEST_F(KernelDecisionTest, EveryFrameDecidesCountsAndReportsAsTheDriver) {
    std::mt19937 rng(20261208);
    for (std::size_t size : {std::size_t(1), std::size_t(2), std::size_t(1000), std::size_t(500000)}) {
        const std::vector<RangeEntry> entries = MakeTable(size, rng);
        const std::vector<std::uint8_t> image = Image(entries);
        const std::string name = std::to_string(size);
        Install(&image);
        std::vector<std::uint8_t> readBack;
        std::string error;
        ASSERT_TRUE(kernel.ReadTable(readBack, error)) << error;
        EXPECT_EQ(readBack, image) << "the kernel's table reads back changed";

        FrameMaker maker(rng, entries);
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < kFramesPerTable && mismatches < 20; ++i) {
            if (i % kSwitchEvery == 0) {
                // Mostly filtering with reports, at times each switch off, the table gone or
                // no one listening; now and then the counters reset.
                const std::uint32_t s = rng();
                state.FilteringEnabled = (s & 7) != 0;
                state.ReportBlocked = (s & 8) == 0;
                state.ReportGranted = (s & 16) == 0;
                SetEvents((s & 32) == 0 || (s & 64) != 0, (s & 32) == 0);
                if ((s & 0x700) == 0) {
                    Install(nullptr);
                } else if (state.Ranges == nullptr) {
                    Install(&image);
                }
                ASSERT_NO_FATAL_FAILURE(PushSwitches());
                ExpectSameCounts();
                if ((s & 0x7000) == 0) {
                    kernel.ResetCounts();
                    state.SentCount = state.SentBlockedCount = 0;
                    state.ReceivedCount = state.ReceivedBlockedCount = 0;
                }
            }
            const bool outgoing = rng() % 2 == 0;
            if (!Same(maker.Make(outgoing), outgoing, name.c_str())) ++mismatches;
        }
        ExpectSameCounts();
        ASSERT_EQ(mismatches, 0u) << "table of " << size;
    }
    EXPECT_GE(compared, 1000000u);
}

// The loader's largest table goes in and decides; one entry more is refused and the table in
// force stays. An empty table blocks nothing.
TEST_F(KernelDecisionTest, LargestTableIsTakenAndALargerOneLeavesTheOldInForce) {
    std::mt19937 rng(7);
    const std::vector<RangeEntry> largest = MakeTable(FV_MAX_RANGES, rng);
    const std::vector<std::uint8_t> image = Image(largest);
    Install(&image);
    state.FilteringEnabled = 1;
    state.ReportBlocked = state.ReportGranted = 1;
    SetEvents(true, true);
    PushSwitches();
    FrameMaker maker(rng, largest);
    for (int i = 0; i < 20000; ++i) {
        const bool outgoing = i % 2 == 0;
        ASSERT_TRUE(Same(maker.Make(outgoing), outgoing, "largest"));
    }

    const std::vector<std::uint8_t> tooLarge = Image(MakeTable(FV_MAX_RANGES + 1, rng));
    std::string error;
    EXPECT_FALSE(kernel.SetTable(reinterpret_cast<const RangeTable*>(tooLarge.data()), error));
    std::vector<std::uint8_t> inForce;
    ASSERT_TRUE(kernel.ReadTable(inForce, error)) << error;
    EXPECT_EQ(inForce, image);

    const std::vector<std::uint8_t> empty = Image({});
    Install(&empty);
    FrameMaker any(rng, largest);
    for (int i = 0; i < 2000; ++i) ASSERT_TRUE(Same(any.Make(true), true, "empty"));
    ExpectSameCounts();
}

}  // namespace
