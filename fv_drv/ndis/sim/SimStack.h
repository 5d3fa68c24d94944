// A simulated protocol stack above a virtual adapter: it sends frames and queries through the
// adapter and records everything indicated to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fv_drv/ndis/sim/SimAdapter.h"

namespace ndis::sim {

// A query or set in flight; the result is readable once Done.
struct StackRequest {
    NDIS_REQUEST Request;
    std::vector<std::uint8_t> Buffer;
    std::atomic<bool> Done{false};
    NDIS_STATUS Status = NDIS_STATUS_PENDING;
    UINT Bytes() const { return Request.DATA.QUERY_INFORMATION.BytesWritten; }
    UINT Needed() const { return Request.DATA.QUERY_INFORMATION.BytesNeeded; }
};

struct LookaheadRecord {
    NDIS_MEDIUM Medium;
    Frame Header;
    Frame Lookahead;
    UINT PacketSize;
    UINT FddiAddressLength;
};

struct ReceivedRecord {
    Frame Bytes;
    NDIS_STATUS Status;
    UINT HeaderSize;
};

class Stack final : public ndis::media::UpperProtocol {
public:
    Stack();
    ~Stack();

    bool Bind(const std::u16string& virtualAdapterName);
    void Close();
    bool IsBound() const { return adapter_.load() != nullptr; }
    NDIS_MEDIUM Medium() const;

    // Sends the frames in one call; returns the id of the first (ids count up from 0).
    std::uint64_t Send(const std::vector<Frame>& frames);
    std::uint64_t Send(const Frame& frame) { return Send(std::vector<Frame>{frame}); }
    std::shared_ptr<StackRequest> Query(NDIS_OID oid, UINT bufferSize);
    std::shared_ptr<StackRequest> Set(NDIS_OID oid, std::vector<std::uint8_t> data);

    // Behaviour: hold received packets (until ReturnHeld) instead of copying them; fetch the
    // rest of look-ahead frames with TransferData.
    std::atomic<bool> HoldPackets{false};
    std::atomic<bool> TransferRest{false};
    // Off for a long-running source: sends and receives are then not recorded.
    std::atomic<bool> KeepHistory{true};
    std::size_t ReturnHeld();

    // What happened.
    std::map<std::uint64_t, std::vector<NDIS_STATUS>> SendCompletions() const;
    std::size_t SendsOutstanding() const;
    std::vector<ReceivedRecord> Received() const;
    std::vector<LookaheadRecord> Lookaheads() const;
    std::vector<Frame> Transferred() const;  // header + transferred bytes, once complete
    std::vector<NDIS_MEDIUM> ReceiveCompletes() const;
    std::vector<NDIS_STATUS> Statuses() const;
    std::size_t StatusCompletes() const;
    bool WasUnbound() const { return unbound_.load(); }

    // ndis::media::UpperProtocol
    NDIS_UPPER_PROTOCOL_OVERRIDES;

private:
    struct Owned;  // a packet of ours with the bytes it describes
    std::unique_ptr<Owned> MakeOwned(Frame bytes);
    std::shared_ptr<StackRequest> Issue(std::shared_ptr<StackRequest> request);
    void FinishTransfer(PNDIS_PACKET packet, NDIS_STATUS status, UINT bytes);

    std::atomic<NDIS_HANDLE> adapter_{nullptr};
    std::atomic<bool> unbound_{false};
    NDIS_HANDLE pool_ = nullptr;

    mutable std::mutex lock_;
    std::uint64_t nextId_ = 0;
    std::map<PNDIS_PACKET, std::unique_ptr<Owned>> sending_;
    std::map<PNDIS_PACKET, std::unique_ptr<Owned>> transferring_;
    std::map<std::uint64_t, std::vector<NDIS_STATUS>> completions_;
    std::map<PNDIS_REQUEST, std::shared_ptr<StackRequest>> requests_;
    std::vector<PNDIS_PACKET> held_;
    std::vector<ReceivedRecord> received_;
    std::vector<LookaheadRecord> lookaheads_;
    std::vector<Frame> transferred_;
    std::vector<NDIS_MEDIUM> receiveCompletes_;
    std::vector<NDIS_STATUS> statuses_;
    std::size_t statusCompletes_ = 0;
};

}  // namespace ndis::sim
