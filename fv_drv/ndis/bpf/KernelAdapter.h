// The kernel medium: an interface whose packets the kernel decides on its traffic-control
// hooks. The adapter carries no packets; it gives the driver a binding, and so the program an
// adapter, whose filter state the kernel's copy follows (see FilterMirror).
#pragma once

#include <string>

#include "fv_drv/ndis/linux/InterfaceAdapter.h"

namespace ndis::bpf_media {

// Ends the adapter's description, so that the program shows where the decision is made.
inline constexpr const char* kKernelDescriptionSuffix = " [kernel filter]";

class KernelAdapter final : public ndis::linux_media::InterfaceAdapter {
public:
    explicit KernelAdapter(ndis::linux_media::InterfaceInfo info)
        : InterfaceAdapter(std::move(info), kKernelDescriptionSuffix) {}

    // The same virtual adapter name as the queue's, so that the program finds the interface
    // under one name whichever way it is filtered.
    std::u16string UpperBindings() const override;
    NDIS_STATUS Open(ndis::media::LowerEdge*) override { return NDIS_STATUS_SUCCESS; }
    NDIS_STATUS Close() override { return NDIS_STATUS_SUCCESS; }
    NDIS_STATUS Send(PNDIS_PACKET) override { return NDIS_STATUS_FAILURE; }
};

}  // namespace ndis::bpf_media
