// What every medium over a real Ethernet interface shares: it binds under the interface's
// name, answers queries from what the kernel says of the interface now and leaves sets to the
// kernel. Any frame it indicates goes up whole with NDIS_STATUS_RESOURCES, so that nothing is
// ever left for TransferData or held above.
#pragma once

#include <string>
#include <utility>

#include "fv_drv/ndis/linux/LinuxLink.h"
#include "fv_drv/ndis/ndis_media.h"

namespace ndis::linux_media {

class InterfaceAdapter : public ndis::media::LowerAdapter {
public:
    const InterfaceInfo& Info() const { return info_; }

    std::u16string Name() const final;
    NDIS_MEDIUM Medium() const final { return NdisMedium802_3; }
    NDIS_STATUS Request(PNDIS_REQUEST request) final;
    NDIS_STATUS TransferData(NDIS_HANDLE macReceiveContext, UINT byteOffset, UINT bytesToTransfer,
                             PNDIS_PACKET packet, PUINT bytesTransferred) final;
    void ReturnPacket(PNDIS_PACKET) final {}

protected:
    // `descriptionSuffix` ends the vendor description, where the medium wants it shown.
    explicit InterfaceAdapter(InterfaceInfo info, std::string descriptionSuffix = {})
        : info_(std::move(info)), descriptionSuffix_(std::move(descriptionSuffix)) {}

private:
    InterfaceInfo info_;
    std::string descriptionSuffix_;
};

std::u16string Widen(const std::string& ascii);

}  // namespace ndis::linux_media
