#include "fv_drv/ndis/bpf/KernelAdapter.h"

#include "fv_drv/ndis/linux/LinuxAdapter.h"
#include "fv_drv/ndis/nfqueue/QueueAdapter.h"

namespace ndis::bpf_media {
namespace {
constexpr ULONG kMacOptions = NDIS_MAC_OPTION_COPY_LOOKAHEAD_DATA |
                              NDIS_MAC_OPTION_TRANSFERS_NOT_PEND | NDIS_MAC_OPTION_NO_LOOPBACK;
}

std::u16string KernelAdapter::Name() const {
    return ndis::linux_media::Widen(info_.name);
}

std::u16string KernelAdapter::UpperBindings() const {
    return ndis::linux_media::Widen(ndis::nfqueue_media::AttachedAdapterName(info_.name));
}

NDIS_STATUS KernelAdapter::Request(PNDIS_REQUEST r) {
    if (r->RequestType == NdisRequestSetInformation) {
        // Packet filters and multicast lists stay the kernel's business.
        r->DATA.SET_INFORMATION.BytesRead = r->DATA.SET_INFORMATION.InformationBufferLength;
        r->DATA.SET_INFORMATION.BytesNeeded = 0;
        return NDIS_STATUS_SUCCESS;
    }
    ndis::linux_media::InterfaceInfo fresh;
    std::string error;
    const ndis::linux_media::InterfaceInfo& now =
        ndis::linux_media::QueryInterface(info_.name, fresh, error) ? fresh : info_;
    switch (r->DATA.QUERY_INFORMATION.Oid) {
        case OID_GEN_VENDOR_DESCRIPTION: {
            const std::string text = ndis::linux_media::VendorDescription(now) + kKernelDescriptionSuffix;
            return ndis::media::AnswerQuery(r, text.c_str(), UINT(text.size() + 1));
        }
        case OID_GEN_MEDIA_IN_USE: {
            const ULONG medium = NdisMedium802_3;
            return ndis::media::AnswerQuery(r, &medium, sizeof medium);
        }
        case OID_GEN_MAC_OPTIONS:
            return ndis::media::AnswerQuery(r, &kMacOptions, sizeof kMacOptions);
        case OID_802_3_CURRENT_ADDRESS:
            return ndis::media::AnswerQuery(r, now.mac.data(), UINT(now.mac.size()));
        default:
            break;
    }
    r->DATA.QUERY_INFORMATION.BytesWritten = 0;
    return NDIS_STATUS_NOT_SUPPORTED;
}

}  // namespace ndis::bpf_media
