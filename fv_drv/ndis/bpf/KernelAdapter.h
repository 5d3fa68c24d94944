// The kernel medium: an interface whose packets the kernel decides on its traffic-control
// hooks. The adapter carries no packets; it gives the driver a binding, and so the program an
// adapter, whose filter state the kernel's copy follows (see FilterMirror).
#pragma once

#include <string>

#include "fv_drv/ndis/linux/LinuxLink.h"
#include "fv_drv/ndis/ndis_media.h"

namespace ndis::bpf_media {

// Ends the adapter's description, so that the program shows where the decision is made.
inline constexpr const char* kKernelDescriptionSuffix = " [kernel filter]";

class KernelAdapter final : public ndis::media::LowerAdapter {
public:
    explicit KernelAdapter(ndis::linux_media::InterfaceInfo info) : info_(std::move(info)) {}

    std::u16string Name() const override;
    NDIS_MEDIUM Medium() const override { return NdisMedium802_3; }
    // The same virtual adapter name as the queue's, so that the program finds the interface
    // under one name whichever way it is filtered.
    std::u16string UpperBindings() const override;
    NDIS_STATUS Open(ndis::media::LowerEdge*) override { return NDIS_STATUS_SUCCESS; }
    NDIS_STATUS Close() override { return NDIS_STATUS_SUCCESS; }
    NDIS_STATUS Send(PNDIS_PACKET) override { return NDIS_STATUS_FAILURE; }
    NDIS_STATUS Request(PNDIS_REQUEST request) override;
    NDIS_STATUS TransferData(NDIS_HANDLE, UINT, UINT, PNDIS_PACKET, PUINT bytesTransferred) override {
        *bytesTransferred = 0;
        return NDIS_STATUS_FAILURE;
    }
    void ReturnPacket(PNDIS_PACKET) override {}

private:
    ndis::linux_media::InterfaceInfo info_;
};

}  // namespace ndis::bpf_media
