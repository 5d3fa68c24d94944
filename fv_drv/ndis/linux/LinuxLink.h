// The operating-system side of the linux media: a real interface read and written through a
// packet socket below the driver, a TAP device above it that the host's IP stack uses, and the
// settings that keep the kernel's own stack off the real interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/uio.h>
#include <vector>

#include "fv_drv/ndis/linux/KernelKeepOff.h"
#include "fv_platform/UniqueFd.h"

namespace ndis::linux_media {

using MacAddress = std::array<std::uint8_t, 6>;

struct InterfaceInfo {
    std::string name;
    int index = 0;
    MacAddress mac{};
    int mtu = 0;
    bool running = false;  // carrier up
    std::string driver;    // from the driver's own report, may be empty
    std::string busInfo;   // e.g. a PCI address, may be empty
};

// Reads what the kernel knows of `name`. False with `error` set when there is no such interface.
bool QueryInterface(const std::string& name, InterfaceInfo& info, std::string& error);

// "driver (bus)" or "driver", or the interface name when the driver does not say.
std::string VendorDescription(const InterfaceInfo& info);

// Every frame on a port travels with this header (the kernel's virtio-net header): it carries
// checksum and segmentation offloads, so that one read or write can move a 64 KB TCP segment
// and a partial checksum from a local peer is completed where it belongs.
struct OffloadHeader {
    std::uint8_t flags = 0;
    std::uint8_t gsoType = 0;
    std::uint16_t headerLength = 0;
    std::uint16_t gsoSize = 0;
    std::uint16_t checksumStart = 0;
    std::uint16_t checksumOffset = 0;
};
static_assert(sizeof(OffloadHeader) == 10);

// Room for the largest frame a port can carry (a coalesced or segmentation-offloaded one).
inline constexpr std::size_t kMaxFrameLength = 128 * 1024;

// An 802.1Q tag: its protocol identifier and the tag control word, each two bytes on the wire.
inline constexpr std::size_t kVlanTagLength = 4;
inline constexpr std::uint16_t kVlanTagProtocol = 0x8100;

// Puts a tag the kernel took out of a received frame back after the two addresses, where it
// stood on the wire, and moves the offload header's offsets past it. `frame` has room for the
// tag after `length`; returns the new length.
// Moves the offload header's offsets past a tag put back in front of them.
void ShiftOffloadForTag(OffloadHeader& header);
std::size_t InsertVlanTag(std::uint16_t protocol, std::uint16_t control, OffloadHeader& header,
                          std::uint8_t* frame, std::size_t length);

// A frame descriptor that is read and written one frame at a time.
class FramePort {
public:
    int Fd() const { return fd_.Get(); }
    bool Open() const { return fd_.Valid(); }
    // The next frame's length, or -1 when none is waiting or on error. Never blocks; sends may.
    long Receive(OffloadHeader& header, std::uint8_t* buffer, std::size_t capacity);
    bool Send(const OffloadHeader& header, const std::uint8_t* frame, std::size_t length);
    // A frame in parts: parts[0] the offload header, then its bytes.
    bool Send(const iovec* parts, std::size_t count);
    // A plain frame: no offloads.
    long Receive(std::uint8_t* buffer, std::size_t capacity);
    bool Send(const std::uint8_t* frame, std::size_t length);
    void Close();

protected:
    fv::UniqueFd fd_;
    bool socket_ = false;
};

// A packet socket bound to one interface. Frames this socket sends are not read back. Sends
// wait for room in the interface's queue rather than drop. Frames are received as they were on
// the wire: a VLAN tag the kernel moved out of the frame is put back.
class PacketPort : public FramePort {
public:
    static bool Create(int interfaceIndex, PacketPort& port, std::string& error);
    // The same in two steps, for set-up that must come before the first frame arrives.
    static bool CreateUnbound(PacketPort& port, std::string& error);
    bool Bind(int interfaceIndex, std::string& error);

    struct OutFrame {
        OffloadHeader header;
        std::vector<std::uint8_t> bytes;
    };
    // Writes the frames with as few calls as the kernel allows; returns how many were sent.
    std::size_t SendBatch(std::vector<OutFrame>& frames, std::size_t count);
};

// A TAP device (created here, gone when closed) with a given name, hardware address and MTU,
// brought up, offering the stack checksum and TCP segmentation offload.
class TapPort : public FramePort {
public:
    static bool Create(const std::string& name, const MacAddress& mac, int mtu, TapPort& port,
                       std::string& error);
    const std::string& Name() const { return name_; }

private:
    std::string name_;
};

// Batch scheduling for the calling thread: woken for a packet, it does not preempt the program
// that sent it, which goes on to fill the next batch instead of handing over one packet per
// switch.
void UseBatchScheduling();

// Batch scheduling, with the calling thread's share of the processor raised above ordinary
// programs: a forwarding thread that loses the processor to the programs whose traffic it
// carries drops their packets. Best effort; a refusal (no CAP_SYS_NICE) is logged once per
// process.
void RaiseForwardingPriority();

// Link (carrier) changes, from a routing netlink socket.
class LinkWatcher {
public:
    bool Open(std::string& error);
    int Fd() const { return fd_.Get(); }
    // Drains the socket; true if a message concerned interface `index`.
    bool Drain(int index);

private:
    fv::UniqueFd fd_;
};

}  // namespace ndis::linux_media
