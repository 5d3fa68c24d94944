// The media: what lies below and above an intermediate driver.
//
//   upper protocol (the "stack": ndis::sim::Stack, or a TAP device)
//        |  ndis::media::UpperSendPackets / UpperRequest / ...      ^ UpperProtocol callbacks
//        v                                                         |
//   virtual adapter  = the driver's miniport edge (NdisIMInitializeDeviceInstanceEx)
//   driver (fv_drv/Driver)
//   binding          = the driver's protocol edge (NdisOpenAdapter)
//        |  LowerAdapter::Send / Request / ...                     ^ LowerEdge calls
//        v                                                         |
//   lower adapter    (ndis::sim::Adapter, or a real interface through AF_PACKET)
//
// A medium supplies LowerAdapter objects and registers them with ndis::host::AddLowerAdapter;
// every registered protocol then binds to them. Above, an upper protocol attaches to a virtual
// adapter by its name (the lower adapter's UpperBindings value) with ndis::media::BindUpper.
//
// Rules every medium keeps:
// - Completion: an operation that returns NDIS_STATUS_PENDING is completed exactly once, later,
//   through the matching LowerEdge call (from any thread). Any other return value is the final
//   status and no completion follows.
// - Ownership: a packet passed to Send belongs to the caller again once its send has completed.
//   A request's buffers likewise. A packet indicated through IndicateReceivePacket with a status
//   other than NDIS_STATUS_RESOURCES stays with the protocols until ReturnPacket gives it back;
//   with NDIS_STATUS_RESOURCES it is the adapter's again when the call returns.
// - Look-ahead: IndicateReceive passes the header and look-ahead bytes, valid only during the
//   call. The macReceiveContext identifies the frame to TransferData during the call and for as
//   long as the adapter keeps the frame after it. A descriptor passed with the indication is what
//   NdisGetReceivedPacket answers during the call.
// - Calls into LowerEdge may come from any thread and concurrently, except that OpenComplete
//   comes first and CloseComplete last; after CloseComplete the edge no longer exists. No lock of
//   the adapter may be held across a LowerEdge call that can call back into the adapter (every
//   one of them can: the driver sends, returns packets and issues requests from its handlers).
#pragma once

#include <string>
#include <vector>

#include "fv_drv/ndis/ndis_device.h"
#include "fv_drv/ndis/ndis_oid.h"
#include "fv_drv/ndis/ndis_packet.h"
#include "fv_drv/ndis/ndis_types.h"

namespace ndis::media {

// Answers a query with `size` bytes of `value`, or says how much room it needs. For media.
NDIS_STATUS AnswerQuery(PNDIS_REQUEST request, const void* value, UINT size);

// Calls a lower adapter makes into the stand-in, between Open and the completion of Close.
class LowerEdge {
public:
    virtual void OpenComplete(NDIS_STATUS status) = 0;
    virtual void CloseComplete(NDIS_STATUS status) = 0;
    virtual void SendComplete(PNDIS_PACKET packet, NDIS_STATUS status) = 0;
    virtual void RequestComplete(PNDIS_REQUEST request, NDIS_STATUS status) = 0;
    virtual void TransferDataComplete(PNDIS_PACKET packet, NDIS_STATUS status,
                                      UINT bytesTransferred) = 0;
    // Full packets; each packet's status (NDIS_GET_PACKET_STATUS) says whether it may be held.
    virtual void IndicateReceivePacket(PNDIS_PACKET* packets, UINT count) = 0;
    // A frame as header and look-ahead; `packet` is the descriptor behind it, or none.
    virtual NDIS_STATUS IndicateReceive(NDIS_HANDLE macReceiveContext, PVOID header,
                                        UINT headerSize, PVOID lookahead, UINT lookaheadSize,
                                        UINT packetSize, PNDIS_PACKET packet) = 0;
    virtual void IndicateReceiveComplete() = 0;
    virtual void IndicateStatus(NDIS_STATUS status, PVOID buffer, UINT size) = 0;
    virtual void IndicateStatusComplete() = 0;
    // Power changes of the adapter (NetEventSetPower with an NDIS_DEVICE_POWER_STATE buffer).
    virtual NDIS_STATUS PnPEvent(PNET_PNP_EVENT event) = 0;

protected:
    ~LowerEdge() = default;
};

// A lower adapter: what the stand-in calls for a protocol's open binding. Only one binding
// opens an adapter at a time.
class LowerAdapter {
public:
    virtual ~LowerAdapter() = default;
    virtual std::u16string Name() const = 0;  // device name the protocol binds to
    virtual NDIS_MEDIUM Medium() const = 0;
    // The binding configuration: name of the virtual adapter the driver creates above.
    virtual std::u16string UpperBindings() const = 0;

    // Start delivering to `edge`. SUCCESS, a failure, or PENDING then edge->OpenComplete.
    virtual NDIS_STATUS Open(LowerEdge* edge) = 0;
    // Stop delivering. PENDING: edge->CloseComplete follows once nothing is in flight.
    virtual NDIS_STATUS Close() = 0;
    virtual NDIS_STATUS Send(PNDIS_PACKET packet) = 0;
    // Query or set (request->RequestType); fills BytesWritten/BytesRead and BytesNeeded.
    virtual NDIS_STATUS Request(PNDIS_REQUEST request) = 0;
    // Copies `bytesToTransfer` bytes from `byteOffset` past the header of the frame behind
    // `macReceiveContext` into the packet's buffers.
    virtual NDIS_STATUS TransferData(NDIS_HANDLE macReceiveContext, UINT byteOffset,
                                     UINT bytesToTransfer, PNDIS_PACKET packet,
                                     PUINT bytesTransferred) = 0;
    // A packet indicated earlier comes back.
    virtual void ReturnPacket(PNDIS_PACKET packet) = 0;
};

// A look-ahead indication as the protocols above a virtual adapter receive it.
struct LookaheadIndication {
    NDIS_MEDIUM Medium;  // which indication the driver used (802.3, 802.5 or FDDI)
    NDIS_HANDLE MacReceiveContext;
    const UCHAR* Header;
    UINT HeaderSize;
    const UCHAR* Lookahead;
    UINT LookaheadSize;
    UINT PacketSize;
    UINT FddiAddressLength;  // FDDI only: 6 or 2
};

// A protocol bound to a virtual adapter (the stack). Calls come from driver threads.
class UpperProtocol {
public:
    virtual void SendComplete(PNDIS_PACKET packet, NDIS_STATUS status) = 0;
    // Returns 1 to hold the packet (give it back with UpperReturnPackets), 0 when done with it.
    // A packet whose status is NDIS_STATUS_RESOURCES must be copied and never held.
    virtual INT ReceivePacket(PNDIS_PACKET packet) = 0;
    virtual NDIS_STATUS Receive(const LookaheadIndication& indication) = 0;
    virtual void ReceiveComplete(NDIS_MEDIUM medium) = 0;
    virtual void TransferDataComplete(PNDIS_PACKET packet, NDIS_STATUS status,
                                      UINT bytesTransferred) = 0;
    virtual void RequestComplete(PNDIS_REQUEST request, NDIS_STATUS status) = 0;
    virtual void Status(NDIS_STATUS status, PVOID buffer, UINT size) = 0;
    virtual void StatusComplete() = 0;
    // The virtual adapter is going away: make no further calls on it. Completions of what was
    // already sent or asked still arrive until the adapter has halted.
    virtual void Unbind() = 0;

protected:
    // Bound by its address: a protocol is never copied.
    UpperProtocol() = default;
    UpperProtocol(const UpperProtocol&) = delete;
    UpperProtocol& operator=(const UpperProtocol&) = delete;
    ~UpperProtocol() = default;
};

// The whole of UpperProtocol, declared for overriding in the body of a class that implements it.
#define NDIS_UPPER_PROTOCOL_OVERRIDES                                                          \
    void SendComplete(PNDIS_PACKET packet, NDIS_STATUS status) override;                       \
    INT ReceivePacket(PNDIS_PACKET packet) override;                                           \
    NDIS_STATUS Receive(const ndis::media::LookaheadIndication& indication) override;          \
    void ReceiveComplete(NDIS_MEDIUM medium) override;                                         \
    void TransferDataComplete(PNDIS_PACKET packet, NDIS_STATUS status, UINT bytesTransferred) \
        override;                                                                              \
    void RequestComplete(PNDIS_REQUEST request, NDIS_STATUS status) override;                  \
    void Status(NDIS_STATUS status, PVOID buffer, UINT size) override;                         \
    void StatusComplete() override;                                                            \
    void Unbind() override

// Attaches `protocol` to the virtual adapter of that name: its handle, or none when there is no
// such adapter or another protocol is attached.
NDIS_HANDLE BindUpper(const std::u16string& virtualAdapterName, UpperProtocol* protocol);
void UnbindUpper(NDIS_HANDLE virtualAdapter);
// The medium the virtual adapter presents.
NDIS_MEDIUM UpperMedium(NDIS_HANDLE virtualAdapter);
void UpperSendPackets(NDIS_HANDLE virtualAdapter, PNDIS_PACKET* packets, UINT count);
// Requests run one at a time per adapter, later ones wait their turn: PENDING, then
// RequestComplete. Any other return value is final.
NDIS_STATUS UpperRequest(NDIS_HANDLE virtualAdapter, PNDIS_REQUEST request);
NDIS_STATUS UpperTransferData(NDIS_HANDLE virtualAdapter, NDIS_HANDLE macReceiveContext,
                              UINT byteOffset, UINT bytesToTransfer, PNDIS_PACKET packet,
                              PUINT bytesTransferred);
void UpperReturnPackets(PNDIS_PACKET* packets, UINT count);

}  // namespace ndis::media

namespace ndis::host {

using DriverEntryRoutine = NTSTATUS (*)(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

// Runs the driver's entry, then binds its protocol to every lower adapter present.
NTSTATUS LoadDriver(DriverEntryRoutine entry);
// Unbinds everything, then runs the protocol's and the driver's unload handlers.
void UnloadDriver();
// The adapter must outlive its binding; every registered protocol binds to it now.
void AddLowerAdapter(ndis::media::LowerAdapter* adapter);
// Unbinds every protocol from the adapter.
void RemoveLowerAdapter(ndis::media::LowerAdapter* adapter);
// A PnP reconfigure event with no binding context, to every registered protocol.
void ReconfigureProtocols();
// Names of the virtual adapters that have initialized.
std::vector<std::u16string> VirtualAdapters();

}  // namespace ndis::host
