// The control device's adapter requests and named events: uploads, start and stop, counters,
// records and their events, end to end through the simulated stack.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/eventfd.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/fv_drv/ControlHarness.h"
#include "fv_contract/DeviceNames.h"
#include "fv_drv/Driver/FilterMirror.h"

namespace fv::test {
namespace {

const std::uint32_t kListedAddress = Ip(203, 0, 113, 7);

class ControlFilterTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        h = OpenAdapter(0, {&blocked, &granted, &exit});
        f = &bindings[0]->Filter;
    }
    // Creates the three events, uploads, starts and turns both reports on, as the program does.
    void StartReporting() {
        for (ULONG code :
             {IOCTL_CREATE_BLOCKED_EVENT, IOCTL_CREATE_GRANTED_EVENT, IOCTL_CREATE_EXIT_EVENT}) {
            ASSERT_EQ(Call(h, code).status, STATUS_SUCCESS);
        }
        ASSERT_EQ(Call(h, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
        ASSERT_EQ(Call(h, IOCTL_START_FILTER).status, STATUS_SUCCESS);
        ASSERT_EQ(Call(h, IOCTL_SET_REPORT_GRANTED, {1}).status, STATUS_SUCCESS);
        ASSERT_EQ(Call(h, IOCTL_SET_REPORT_BLOCKED, {1}).status, STATUS_SUCCESS);
    }
    std::uint32_t Count(ULONG code) { return WordAt(Call(h, code, {}, 4).output); }

    ProgramEvent blocked{kBlockedEventName}, granted{kGrantedEventName}, exit{kExitEventName};
    FILE_OBJECT* h = nullptr;
    FilterState* f = nullptr;
};

TEST_F(ControlFilterTest, UploadNeedsTheWholeImage) {
    const auto three = Upload({{1, 0}, {10, 5}, {100, 0}});
    ASSERT_EQ(three.size(), 32u);
    ASSERT_EQ(Call(h, IOCTL_SET_RANGES, three).status, STATUS_SUCCESS);
    ASSERT_NE(f->Ranges, nullptr);
    EXPECT_EQ(f->Ranges->count, 3u);
    EXPECT_EQ(f->Ranges->Entries()[2].first, 100u);

    const RangeTable* before = f->Ranges;
    auto shortByOne = Upload(kListed);
    shortByOne[0] = 3;
    shortByOne.resize(31);
    EXPECT_EQ(Call(h, IOCTL_SET_RANGES, shortByOne).status, STATUS_INVALID_PARAMETER);
    // Counts whose size does not fit 32 bits, or wraps in 32-bit arithmetic.
    for (std::uint32_t count : {0xFFFFFFFFu, 0x1FFFFFFFu, 0x20000000u}) {
        auto huge = Upload(kListed);
        std::memcpy(huge.data(), &count, 4);
        EXPECT_EQ(Call(h, IOCTL_SET_RANGES, huge).status, STATUS_INVALID_PARAMETER) << count;
    }
    EXPECT_EQ(f->Ranges, before);

    // Bytes beyond the image are not part of the table.
    auto padded = Upload(kListed);
    padded.resize(padded.size() + 100, 0xEE);
    ASSERT_EQ(Call(h, IOCTL_SET_RANGES, padded).status, STATUS_SUCCESS);
    EXPECT_EQ(f->Ranges->count, 1u);
}

TEST_F(ControlFilterTest, UploadWithoutATableRemovesIt) {
    ASSERT_EQ(Call(h, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
    ASSERT_EQ(Upload({}).size(), 8u);
    EXPECT_EQ(Call(h, IOCTL_SET_RANGES, Upload({})).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(f->Ranges, nullptr);
    ASSERT_EQ(Call(h, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_SET_RANGES).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(f->Ranges, nullptr);

}

// A replacement table the driver cannot store must not open the adapter: the table in force
// keeps blocking, and its rings keep the records not yet read.
TEST_F(ControlFilterTest, AnUploadWithoutMemoryKeepsTheTableInForce) {
    StartReporting();
    ndis::sim::Stack& stack = StackOver(*sims[0]);
    stack.Send(Outgoing(kListedAddress));
    const RangeTable* before = f->Ranges;
    ndis::test::FailAllocations(kDriverPoolTag, 1);
    EXPECT_EQ(Call(h, IOCTL_SET_RANGES, Upload({{Ip(192, 0, 2, 0), 255}})).status,
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(f->Ranges, before);
    EXPECT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 1u);
    stack.Send(Outgoing(kListedAddress));
    EXPECT_EQ(Counters(bindings[0]).SentBlockedCount, 2u);
    EXPECT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 2u);
}

TEST_F(ControlFilterTest, StartEmptiesTheRingsAndSilencesReports) {
    StartReporting();
    ndis::sim::Stack& stack = StackOver(*sims[0]);
    stack.Send(Outgoing(kListedAddress));
    stack.Send(Outgoing(Ip(8, 8, 4, 4)));
    EXPECT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 1u);
    EXPECT_EQ(Count(IOCTL_GET_GRANTED_COUNT), 1u);

    ASSERT_EQ(Call(h, IOCTL_START_FILTER).status, STATUS_SUCCESS);
    EXPECT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 0u);
    EXPECT_EQ(Count(IOCTL_GET_GRANTED_COUNT), 0u);
    EXPECT_EQ(f->ReportBlocked, 0);
    EXPECT_EQ(f->ReportGranted, 0);
    EXPECT_EQ(f->FilteringEnabled, 1);
    Reply r = Call(h, IOCTL_GET_BLOCKED_RECORD, {}, 12);
    EXPECT_EQ(r.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(r.information, 0u);
    stack.Send(Outgoing(kListedAddress));  // blocked, not reported
    EXPECT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 0u);
}

TEST_F(ControlFilterTest, StopSignalsExitOnceAndKeepsTheRest) {
    StartReporting();
    StackOver(*sims[0]).Send(Outgoing(kListedAddress));
    blocked.Signals();
    ASSERT_EQ(Call(h, IOCTL_STOP_FILTER).status, STATUS_SUCCESS);
    EXPECT_EQ(exit.Signals(), 1u);
    ASSERT_EQ(Call(h, IOCTL_STOP_FILTER).status, STATUS_SUCCESS);
    EXPECT_EQ(exit.Signals(), 0u);  // the second stop holds no exit event
    EXPECT_EQ(f->FilteringEnabled, 0);
    EXPECT_EQ(f->BlockedEvent, nullptr);
    EXPECT_NE(f->Ranges, nullptr);
    EXPECT_EQ(f->ReportBlocked, 1);
    EXPECT_EQ(Call(h, IOCTL_GET_BLOCKED_RECORD, {}, 12).status, STATUS_SUCCESS);
}

TEST_F(ControlFilterTest, CountersAndRecordReadsCheckTheirBuffers) {
    StartReporting();
    ndis::sim::Stack& stack = StackOver(*sims[0]);
    stack.Send(Outgoing(kListedAddress));
    sims[0]->IndicatePacket(Incoming(kListedAddress));
    sims[0]->IndicatePacket(Incoming(Ip(1, 1, 1, 1)));

    Reply r = Call(h, IOCTL_GET_STATS, {}, kStatsSize - 1);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, kStatsSize);
    r = Call(h, IOCTL_GET_STATS, {}, kStatsSize);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, kStatsSize);
    const std::uint32_t expected[] = {1, 1, 0, 0, 2, 1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(WordAt(r.output, 4 * i), expected[i]) << i;
    ASSERT_EQ(Call(h, IOCTL_RESET_STATS).status, STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_GET_STATS, {}, kStatsSize).output, std::vector<std::uint8_t>(24, 0));

    r = Call(h, IOCTL_GET_BLOCKED_COUNT, {}, 3);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 4u);
    r = Call(h, IOCTL_GET_BLOCKED_RECORD, {}, 11);
    EXPECT_EQ(r.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(r.information, 0u);
    EXPECT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 2u);  // the short read took nothing

    EXPECT_EQ(Call(h, IOCTL_SET_REPORT_BLOCKED).status, STATUS_INVALID_PARAMETER);
    ASSERT_EQ(Call(h, IOCTL_SET_REPORT_BLOCKED, {0x80, 0}).status, STATUS_SUCCESS);
    EXPECT_EQ(f->ReportBlocked, 1);
    ASSERT_EQ(Call(h, IOCTL_SET_REPORT_GRANTED, {0}).status, STATUS_SUCCESS);
    EXPECT_EQ(f->ReportGranted, 0);
}

// The kernel's copy of an adapter's state, as the requests leave it.
class CopyInTheKernel final : public FilterMirror {
public:
    bool PutTable(const RangeTable* table) override {
        if (refuse) return false;
        tableCount = table == nullptr ? -1 : std::int64_t(table->count);
        return true;
    }
    void PutSwitches(const FilterState& s) override {
        filtering = s.FilteringEnabled != 0;
        reportingBlocked = s.ReportBlocked != 0 && s.BlockedEvent != nullptr;
    }
    void GetCounts(FilterState& s) override {
        s.SentCount = 41;
        s.ReceivedBlockedCount = 7;
    }
    void ResetCounts() override { ++resets; }

    bool refuse = false;
    std::int64_t tableCount = -1;
    bool filtering = false;
    bool reportingBlocked = false;
    int resets = 0;
};

// While the kernel decides, each request reaches its copy, the counters are the kernel's, and a
// table the kernel refuses is refused: the driver keeps the table the kernel still holds.
TEST_F(ControlFilterTest, AMirroredAdapterKeepsTheKernelsCopyInStep) {
    CopyInTheKernel kernel;
    f->Mirror = &kernel;
    StartReporting();
    EXPECT_EQ(kernel.tableCount, 1);
    EXPECT_TRUE(kernel.filtering);
    EXPECT_TRUE(kernel.reportingBlocked);
    const Reply r = Call(h, IOCTL_GET_STATS, {}, kStatsSize);
    EXPECT_EQ(WordAt(r.output, 0), 41u);
    EXPECT_EQ(WordAt(r.output, 20), 7u);
    ASSERT_EQ(Call(h, IOCTL_RESET_STATS).status, STATUS_SUCCESS);
    EXPECT_EQ(kernel.resets, 1);

    kernel.refuse = true;
    EXPECT_EQ(Call(h, IOCTL_SET_RANGES, Upload({{1, 0}, {10, 5}, {100, 0}})).status,
              STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_NE(f->Ranges, nullptr);
    EXPECT_EQ(f->Ranges->count, 1u);
    kernel.refuse = false;
    EXPECT_EQ(Call(h, IOCTL_SET_RANGES).status, STATUS_NOT_SUPPORTED);
    EXPECT_EQ(kernel.tableCount, -1);
    ASSERT_EQ(Call(h, IOCTL_STOP_FILTER).status, STATUS_SUCCESS);
    EXPECT_FALSE(kernel.filtering);
    EXPECT_FALSE(kernel.reportingBlocked);
    f->Mirror = nullptr;
}

TEST_F(ControlFilterTest, RecordReadsFailBeforeAnyUpload) {
    Reply r = Call(h, IOCTL_GET_GRANTED_RECORD, {}, 12);
    EXPECT_EQ(r.status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(r.information, 0u);
    EXPECT_EQ(Count(IOCTL_GET_GRANTED_COUNT), 0u);
}

TEST_F(ControlFilterTest, BlockedAndGrantedPacketsAreReadBackAsRecords) {
    StartReporting();
    EXPECT_EQ(blocked.Signals(), 0u);
    ndis::sim::Stack& stack = StackOver(*sims[0]);
    FrameSpec out;
    out.destination = kListedAddress;
    out.sourcePort = 40001;
    out.destinationPort = 443;
    stack.Send(BuildFrame(out));
    sims[0]->IndicatePacket(Incoming(kListedAddress));
    sims[0]->IndicatePacket(Incoming(Ip(9, 9, 9, 9)));
    EXPECT_EQ(sims[0]->SentCount(), 0u);
    EXPECT_GE(blocked.Signals(), 1u);
    EXPECT_GE(granted.Signals(), 1u);

    ASSERT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 2u);
    Reply r = Call(h, IOCTL_GET_BLOCKED_RECORD, {}, 16);
    ASSERT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 12u);
    PacketEventRecord rec;
    std::memcpy(&rec, r.output.data(), sizeof rec);
    EXPECT_EQ(rec.remoteAddress, htonl(kListedAddress));
    EXPECT_EQ(rec.firstPort, htons(40001));
    EXPECT_EQ(rec.secondPort, htons(443));
    EXPECT_EQ(rec.direction, 1);
    EXPECT_EQ(rec.protocol, 6);
    r = Call(h, IOCTL_GET_BLOCKED_RECORD, {}, 12);
    std::memcpy(&rec, r.output.data(), sizeof rec);
    EXPECT_EQ(rec.direction, 0);
    EXPECT_EQ(Call(h, IOCTL_GET_BLOCKED_RECORD, {}, 12).status, STATUS_INVALID_PARAMETER);

    ASSERT_EQ(Count(IOCTL_GET_GRANTED_COUNT), 1u);
    r = Call(h, IOCTL_GET_GRANTED_RECORD, {}, 12);
    std::memcpy(&rec, r.output.data(), sizeof rec);
    EXPECT_EQ(rec.remoteAddress, htonl(Ip(9, 9, 9, 9)));

    // An upload discards what was not read.
    sims[0]->IndicatePacket(Incoming(kListedAddress));
    ASSERT_EQ(Call(h, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
    EXPECT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 0u);
}

TEST_F(ControlFilterTest, EventsAreCreatedOnceUntilReleased) {
    EXPECT_EQ(Call(h, IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_INVALID_PARAMETER);
    // Driver-wide: a handle of another process cannot create it either.
    EXPECT_EQ(Call(Open(), IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_INVALID_PARAMETER);
    ASSERT_EQ(Call(h, IOCTL_CLOSE_EVENTS).status, STATUS_SUCCESS);
    EXPECT_EQ(g_driver.Events[kBlockedEventSlot].Object, nullptr);
    EXPECT_EQ(Call(h, IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_SUCCESS);
}

TEST_F(ControlFilterTest, AFailedEventOpenCannotBeRetried) {
    FILE_OBJECT* other = Open({&blocked});  // this process has no exit event
    EXPECT_EQ(Call(other, IOCTL_CREATE_EXIT_EVENT).status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Call(h, IOCTL_CREATE_EXIT_EVENT).status, STATUS_INVALID_PARAMETER);
    ASSERT_EQ(Call(other, IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_SUCCESS);
    ASSERT_EQ(Call(h, IOCTL_CLOSE_EVENTS).status, STATUS_SUCCESS);
    EXPECT_EQ(Call(h, IOCTL_CREATE_EXIT_EVENT).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Call(h, IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_SUCCESS);
}

TEST_F(ControlFilterTest, CreatingAnEventClearsASignalLeftInIt) {
    std::uint64_t one = 1;
    ASSERT_EQ(write(blocked.fd, &one, sizeof one), ssize_t(sizeof one));
    ASSERT_EQ(Call(h, IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_SUCCESS);
    EXPECT_EQ(blocked.Signals(), 0u);
}

TEST_F(ControlFilterTest, ReleasingEventsUnderARunningFilterDetachesThem) {
    StartReporting();
    ndis::sim::Stack& stack = StackOver(*sims[0]);
    ASSERT_EQ(Call(Open(), IOCTL_CLOSE_EVENTS).status, STATUS_SUCCESS);
    EXPECT_EQ(f->BlockedEvent, nullptr);
    EXPECT_EQ(f->GrantedEvent, nullptr);
    EXPECT_EQ(f->ExitEvent, nullptr);
    stack.Send(Outgoing(kListedAddress));  // still blocked, no longer reported
    EXPECT_EQ(sims[0]->SentCount(), 0u);
    EXPECT_EQ(blocked.Signals(), 0u);
    EXPECT_EQ(Count(IOCTL_GET_BLOCKED_COUNT), 0u);
    ASSERT_EQ(Call(h, IOCTL_STOP_FILTER).status, STATUS_SUCCESS);
    EXPECT_EQ(exit.Signals(), 0u);
}

// Runs `work` on its own thread; true if it ends within two seconds. A `work` that hangs is
// released with `unstick` so that the test can end.
bool EndsSoon(const std::function<void()>& work, const std::function<void()>& unstick) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(2)) == std::future_status::ready) return true;
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) unstick();
    return false;
}

TEST_F(ControlFilterTest, AnEventThatIsNoEventfdIsRefused) {
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    FILE_OBJECT* other = OpenAdapter(1, {});
    other->Events.push_back({kBlockedEventName, pipeFds[1]});
    EXPECT_EQ(Call(other, IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_UNSUCCESSFUL);
    ASSERT_EQ(Call(other, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
    ASSERT_EQ(Call(other, IOCTL_START_FILTER).status, STATUS_SUCCESS);
    ASSERT_EQ(Call(other, IOCTL_SET_REPORT_BLOCKED, {1}).status, STATUS_SUCCESS);
    ndis::sim::Stack& stack = StackOver(*sims[1]);
    // More sets than the pipe holds.
    EXPECT_TRUE(EndsSoon([&] { for (int i = 0; i < 2000; ++i) stack.Send(Outgoing(kListedAddress)); },
                         [&] {
                             char sink[4096];
                             while (read(pipeFds[0], sink, sizeof sink) == sizeof sink) {
                             }
                         }));
    EXPECT_EQ(Counters(bindings[1]).SentBlockedCount, 2000u);
    EXPECT_EQ(Call(other, IOCTL_STOP_FILTER).status, STATUS_SUCCESS);
    Close(other);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST_F(ControlFilterTest, AFullEventIsAlreadySignalledAndNeverWaitedOn) {
    ProgramEvent full{kBlockedEventName};
    fcntl(full.fd, F_SETFL, fcntl(full.fd, F_GETFL) & ~O_NONBLOCK);
    FILE_OBJECT* other = OpenAdapter(1, {&full, &granted, &exit});
    ASSERT_EQ(Call(other, IOCTL_CREATE_BLOCKED_EVENT).status, STATUS_SUCCESS);
    ASSERT_EQ(Call(other, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
    ASSERT_EQ(Call(other, IOCTL_START_FILTER).status, STATUS_SUCCESS);
    ASSERT_EQ(Call(other, IOCTL_SET_REPORT_BLOCKED, {1}).status, STATUS_SUCCESS);
    const std::uint64_t almostFull = 0xFFFFFFFFFFFFFFFEull;
    ASSERT_EQ(write(full.fd, &almostFull, sizeof almostFull), ssize_t(sizeof almostFull));
    ndis::sim::Stack& stack = StackOver(*sims[1]);
    EXPECT_TRUE(EndsSoon(
        [&] {
            stack.Send(Outgoing(kListedAddress));
            Call(other, IOCTL_STOP_FILTER);
        },
        [&] {
            std::uint64_t n;
            fcntl(full.fd, F_SETFL, O_NONBLOCK);
            while (read(full.fd, &n, sizeof n) == sizeof n) {
            }
        }));
    EXPECT_EQ(WordAt(Call(other, IOCTL_GET_BLOCKED_COUNT, {}, 4).output), 1u);
    EXPECT_EQ(Call(other, IOCTL_CLOSE_EVENTS).status, STATUS_SUCCESS);
    Close(other);
}

// The adapter lock is taken only to swap the new table and rings in.
TEST_F(ControlFilterTest, UploadIsPreparedBeforeTheAdapterLockIsTaken) {
    std::vector<RangeEntry> many(1 << 20);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = {std::uint32_t(i * 4), 1};
    const auto image = Upload(many);
    const long ringsBefore = ndis::test::OutstandingAllocations(kEventRingPoolTag);
    NdisAcquireSpinLock(&bindings[0]->Lock);
    auto upload = std::async(std::launch::async,
                             [&] { return Call(h, IOCTL_SET_RANGES, image).status; });
    bool preparedOutside = false;
    for (int i = 0; i < 200 && !preparedOutside; ++i) {
        NdisMSleep(10000);
        preparedOutside = ndis::test::OutstandingAllocations(kEventRingPoolTag) == ringsBefore + 2;
    }
    NdisReleaseSpinLock(&bindings[0]->Lock);
    EXPECT_TRUE(preparedOutside);
    EXPECT_EQ(upload.get(), STATUS_SUCCESS);
    EXPECT_EQ(f->Ranges->count, many.size());
}

// Two programs' handles on two adapters, traffic on both, and the events created, attached and
// released under them all at once.
TEST_F(ControlFilterTest, RequestsEventsAndTrafficRunConcurrently) {
    FILE_OBJECT* h2 = OpenAdapter(1, {&blocked, &granted, &exit});
    ndis::sim::Stack& s0 = StackOver(*sims[0]);
    ndis::sim::Stack& s1 = StackOver(*sims[1]);
    for (FILE_OBJECT* handle : {h, h2}) {
        ASSERT_EQ(Call(handle, IOCTL_SET_RANGES, Upload(kListed)).status, STATUS_SUCCESS);
    }
    std::atomic<bool> done{false};
    std::thread traffic([&] {
        while (!done) {
            s0.Send(Outgoing(kListedAddress));
            sims[1]->IndicatePacket(Incoming(kListedAddress));
            s1.Send(Outgoing(Ip(8, 8, 8, 8)));
        }
    });
    auto program = [&](FILE_OBJECT* handle) {
        for (int i = 0; i < 200; ++i) {
            Call(handle, IOCTL_CREATE_BLOCKED_EVENT);
            Call(handle, IOCTL_START_FILTER);
            Call(handle, IOCTL_SET_REPORT_BLOCKED, {1});
            Call(handle, IOCTL_GET_BLOCKED_RECORD, {}, 12);
            if (i % 3 == 0) Call(handle, IOCTL_CLOSE_EVENTS);
            Call(handle, IOCTL_STOP_FILTER);
        }
    };
    std::thread first(program, h);
    std::thread second(program, h2);
    first.join();
    second.join();
    done = true;
    traffic.join();
    EXPECT_EQ(Call(h, IOCTL_CLOSE_EVENTS).status, STATUS_SUCCESS);
    EXPECT_EQ(bindings[0]->Filter.BlockedEvent, nullptr);
}

}  // namespace
}  // namespace fv::test
