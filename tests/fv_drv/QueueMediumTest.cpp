// The in-place medium over a fake queue that keeps verdicts the way the kernel does: every
// packet gets exactly the driver's verdict, covering verdicts reach only decided packets, and
// the driver counts and records as on the other media.
#include <arpa/inet.h>
#include <sys/eventfd.h>

#include <map>
#include <set>

#include "tests/fv_drv/DriverHarness.h"
#include "fv_drv/ndis/nfqueue/QueueAdapter.h"

namespace {

using namespace fv::test;
using ndis::nfqueue_media::Decision;
using ndis::nfqueue_media::PlanVerdicts;
using ndis::nfqueue_media::QueueAdapter;
using ndis::nfqueue_media::Verdict;
using ndis::nfqueue_media::VerdictMessage;

// Verdicts as one list per id, applied as the kernel applies them to what it still holds.
class FakeQueue final : public ndis::nfqueue_media::PacketQueue {
public:
    void Push(std::vector<std::uint8_t> packet, bool outgoing) {
        const std::uint32_t id = nextId_++;
        waiting_.push_back({id, outgoing, std::move(packet)});
        held_.insert(id);
    }
    void StartIdsAt(std::uint32_t id) { nextId_ = id; }

    int Fd() const override { return -1; }
    std::size_t Receive(std::span<ndis::nfqueue_media::QueuedPacket> out) override {
        delivered_.clear();
        while (delivered_.size() < out.size() && !waiting_.empty()) {
            delivered_.push_back(std::move(waiting_.front()));
            waiting_.erase(waiting_.begin());
        }
        for (std::size_t i = 0; i < delivered_.size(); ++i) {
            const Queued& q = delivered_[i];
            out[i] = {q.id, q.outgoing, q.bytes.data(), q.bytes.size()};
        }
        return delivered_.size();
    }
    bool Send(std::span<const VerdictMessage> messages) override {
        ++sends;
        // A failed send delivers none of its messages.
        if (failSends > 0) {
            --failSends;
            return false;
        }
        this->messages += messages.size();
        for (const VerdictMessage& m : messages) {
            std::vector<std::uint32_t> hit;
            for (std::uint32_t id : held_) {
                if (id == m.id || (m.coversEarlier && ndis::nfqueue_media::IdAfter(m.id, id))) {
                    hit.push_back(id);
                }
            }
            if (hit.empty()) ++unknownVerdicts;
            for (std::uint32_t id : hit) {
                verdicts[id].push_back(m.verdict);
                held_.erase(id);
            }
        }
        return true;
    }

    std::map<std::uint32_t, std::vector<Verdict>> verdicts;
    std::size_t sends = 0;
    std::size_t messages = 0;
    std::size_t unknownVerdicts = 0;
    int failSends = 0;

private:
    struct Queued {
        std::uint32_t id;
        bool outgoing;
        std::vector<std::uint8_t> bytes;
    };
    std::uint32_t nextId_ = 1;
    std::vector<Queued> waiting_;
    std::vector<Queued> delivered_;
    std::set<std::uint32_t> held_;
};

// The IPv4 packet of a frame, as the queue hands it out.
std::vector<std::uint8_t> Packet(const FrameSpec& s) {
    std::vector<std::uint8_t> frame = BuildFrame(s);
    return std::vector<std::uint8_t>(frame.begin() + 14, frame.end());
}

class QueueMediumTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        ndis::linux_media::InterfaceInfo info;
        info.name = "fq0";
        info.mac = {0x02, 0, 0, 0, 0, 7};
        adapter = std::make_unique<QueueAdapter>(info, queue);
        ndis::host::AddLowerAdapter(adapter.get());
        std::string error;
        ASSERT_TRUE(adapter->AttachUpper(error)) << error;
        binding = ReferenceBindingByLowerName(u"fq0", 6);
        ASSERT_NE(binding, nullptr);
        DereferenceBinding(binding);
    }
    void TearDown() override {
        if (binding != nullptr && binding->Filter.BlockedEvent == &blockedEvent) {
            NdisAcquireSpinLock(&binding->Lock);
            binding->Filter.BlockedEvent = nullptr;
            NdisReleaseSpinLock(&binding->Lock);
        }
        adapter->Stop();
        ndis::host::RemoveLowerAdapter(adapter.get());
        adapter.reset();
        DriverTest::TearDown();
    }

    void ReportBlocked() {
        blockedEvent.Fd.Reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        PacketEventRecord* storage = EventRingAllocateStorage();
        NdisAcquireSpinLock(&binding->Lock);
        EventRingFreeStorage(EventRingSwapStorage(binding->Filter.BlockedRing, storage));
        binding->Filter.BlockedEvent = &blockedEvent;
        binding->Filter.ReportBlocked = 1;
        NdisReleaseSpinLock(&binding->Lock);
    }

    // The one verdict each packet got; Accept/Drop twice or none shows up as a failure.
    Verdict Only(std::uint32_t id) {
        const auto it = queue.verdicts.find(id);
        if (it == queue.verdicts.end() || it->second.size() != 1) {
            ADD_FAILURE() << "packet " << id << " got no single verdict";
            return Verdict::Accept;
        }
        return it->second[0];
    }

    FakeQueue queue;
    std::unique_ptr<QueueAdapter> adapter;
    AdapterBinding* binding = nullptr;
    KEVENT blockedEvent;
};

TEST(QueueVerdicts, DropsGoFirstAndOneMessageAcceptsTheRest) {
    const std::vector<Decision> mixed = {
        {7, Verdict::Accept}, {8, Verdict::Drop}, {9, Verdict::Accept}, {10, Verdict::Drop}};
    const auto plan = PlanVerdicts(mixed);
    ASSERT_EQ(plan.size(), 3u);
    EXPECT_EQ(plan[0].id, 8u);
    EXPECT_EQ(plan[1].id, 10u);
    EXPECT_FALSE(plan[1].coversEarlier);
    EXPECT_EQ(plan[2].id, 9u);  // the last accepted, not the last read
    EXPECT_TRUE(plan[2].coversEarlier);
    EXPECT_EQ(plan[2].verdict, Verdict::Accept);

    // Across the wrap of the id sequence the covering verdict takes the newest id.
    const std::vector<Decision> wrapping = {{0xFFFFFFFEu, Verdict::Accept}, {0xFFFFFFFFu, Verdict::Accept},
                                            {0, Verdict::Accept}, {1, Verdict::Accept}};
    const auto wrapped = PlanVerdicts(wrapping);
    ASSERT_EQ(wrapped.size(), 1u);
    EXPECT_EQ(wrapped[0].id, 1u);

    EXPECT_EQ(PlanVerdicts(std::vector<Decision>{{3, Verdict::Drop}, {4, Verdict::Drop}}).size(), 2u);
    EXPECT_FALSE(PlanVerdicts(std::vector<Decision>{{3, Verdict::Accept}})[0].coversEarlier);
    EXPECT_TRUE(PlanVerdicts({}).empty());
}

TEST(QueueVerdicts, OutOfOrderIdsGetOneMessageEach) {
    const std::vector<Decision> shuffled = {{5, Verdict::Accept}, {3, Verdict::Drop}, {4, Verdict::Accept}};
    const auto plan = PlanVerdicts(shuffled);
    ASSERT_EQ(plan.size(), 3u);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        EXPECT_EQ(plan[i].id, shuffled[i].id);
        EXPECT_EQ(plan[i].verdict, shuffled[i].verdict);
        EXPECT_FALSE(plan[i].coversEarlier);
    }
}

TEST_F(QueueMediumTest, TheAdapterIsListedUnderTheInterfaceWithTheMarker) {
    const auto names = ndis::host::VirtualAdapters();
    EXPECT_NE(std::find(names.begin(), names.end(), u"fv@fq0"), names.end());
}

TEST_F(QueueMediumTest, EveryPacketGetsTheDriversVerdictBothWays) {
    Block(binding, kListed);
    ReportBlocked();
    FrameSpec out;
    out.destination = Ip(203, 0, 113, 9);
    out.protocol = 17;
    out.destinationPort = 53;
    queue.Push(Packet(out), true);  // 1: to a listed address
    out.destination = Ip(8, 8, 8, 8);
    queue.Push(Packet(out), true);  // 2
    FrameSpec in;
    in.source = Ip(203, 0, 113, 200);
    in.destination = Ip(192, 168, 1, 2);
    in.sourcePort = 4444;
    queue.Push(Packet(in), false);  // 3: from a listed address
    in.source = Ip(1, 1, 1, 1);
    queue.Push(Packet(in), false);  // 4
    queue.Push({}, false);          // 5: nothing copied: nothing to judge it by

    EXPECT_EQ(adapter->Pump(), 5u);
    EXPECT_EQ(Only(1), Verdict::Drop);
    EXPECT_EQ(Only(2), Verdict::Accept);
    EXPECT_EQ(Only(3), Verdict::Drop);
    EXPECT_EQ(Only(4), Verdict::Accept);
    EXPECT_EQ(Only(5), Verdict::Accept);
    EXPECT_EQ(queue.sends, 1u);
    EXPECT_EQ(queue.messages, 3u);
    EXPECT_EQ(queue.unknownVerdicts, 0u);
    EXPECT_EQ(adapter->Dropped(), 2u);

    const CounterSnapshot c = Counters(binding);
    EXPECT_EQ(c.SentCount, 2u);
    EXPECT_EQ(c.SentBlockedCount, 1u);
    EXPECT_EQ(c.ReceivedBlockedCount, 1u);
    PacketEventRecord r{};
    ASSERT_EQ(EventRingTake(binding->Filter.BlockedRing, &r), STATUS_SUCCESS);
    EXPECT_EQ(r.direction, std::uint8_t(PacketDirection::Outgoing));
    EXPECT_EQ(r.remoteAddress, htonl(Ip(203, 0, 113, 9)));
    EXPECT_EQ(r.protocol, 17);
    EXPECT_EQ(ntohs(r.secondPort), 53);
    ASSERT_EQ(EventRingTake(binding->Filter.BlockedRing, &r), STATUS_SUCCESS);
    EXPECT_EQ(r.direction, std::uint8_t(PacketDirection::Incoming));
    EXPECT_EQ(r.remoteAddress, htonl(Ip(203, 0, 113, 200)));
    EXPECT_EQ(ntohs(r.firstPort), 4444);
}

TEST_F(QueueMediumTest, LongRunsAreDecidedInBatchesAcrossTheIdWrap) {
    Block(binding, kListed);
    queue.StartIdsAt(0xFFFFFFF0u);
    const std::size_t total = QueueAdapter::kBatch * 2 + 7;
    for (std::size_t i = 0; i < total; ++i) {
        FrameSpec s;
        s.destination = i % 50 == 3 ? Ip(203, 0, 113, 1) : Ip(9, 9, 9, 9);
        queue.Push(Packet(s), true);
    }
    EXPECT_EQ(adapter->Pump(), QueueAdapter::kBatch);
    EXPECT_EQ(adapter->Pump(), QueueAdapter::kBatch);
    EXPECT_EQ(adapter->Pump(), 7u);
    EXPECT_EQ(adapter->Pump(), 0u);
    EXPECT_EQ(queue.sends, 3u);
    EXPECT_EQ(queue.messages, 3u + 3u);  // one accept per batch and the three drops
    for (std::size_t i = 0; i < total; ++i) {
        const std::uint32_t id = 0xFFFFFFF0u + std::uint32_t(i);
        EXPECT_EQ(Only(id), i % 50 == 3 ? Verdict::Drop : Verdict::Accept) << i;
    }
    EXPECT_EQ(Counters(binding).SentCount, total);
}

TEST_F(QueueMediumTest, WithoutTheVirtualAdapterEverythingPasses) {
    Block(binding, kListed);
    adapter->Stop();  // leaves the virtual adapter, as at shutdown
    FrameSpec s;
    s.destination = Ip(203, 0, 113, 1);
    queue.Push(Packet(s), true);
    EXPECT_EQ(adapter->Pump(), 1u);
    EXPECT_EQ(Only(1), Verdict::Accept);
    EXPECT_EQ(Counters(binding).SentCount, 0u);
}

// Verdicts the socket failed to take are not lost to the next batch's covering accept: the
// drops still arrive, and every packet gets exactly one verdict, even with nothing more queued.
TEST_F(QueueMediumTest, AFailedSendNeverLetsADroppedPacketThrough) {
    Block(binding, kListed);
    FrameSpec listed;
    listed.destination = Ip(203, 0, 113, 9);
    FrameSpec unlisted;
    unlisted.destination = Ip(8, 8, 8, 8);
    queue.Push(Packet(unlisted), true);  // 1
    queue.Push(Packet(listed), true);    // 2
    queue.failSends = 1;
    EXPECT_EQ(adapter->Pump(), 2u);
    EXPECT_TRUE(queue.verdicts.empty());
    queue.Push(Packet(unlisted), true);  // 3: its covering accept reaches back over 1 and 2
    queue.Push(Packet(unlisted), true);  // 4
    EXPECT_EQ(adapter->Pump(), 2u);
    EXPECT_EQ(Only(1), Verdict::Accept);
    EXPECT_EQ(Only(2), Verdict::Drop);
    EXPECT_EQ(Only(3), Verdict::Accept);
    EXPECT_EQ(Only(4), Verdict::Accept);

    queue.Push(Packet(listed), true);  // 5
    queue.failSends = 2;
    EXPECT_EQ(adapter->Pump(), 1u);
    EXPECT_EQ(adapter->Pump(), 0u);  // tried again though nothing new came
    EXPECT_TRUE(queue.verdicts.find(5) == queue.verdicts.end());
    EXPECT_EQ(adapter->Pump(), 0u);
    EXPECT_EQ(Only(5), Verdict::Drop);
    EXPECT_EQ(queue.unknownVerdicts, 0u);
}

}  // namespace
