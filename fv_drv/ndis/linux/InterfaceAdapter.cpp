#include "fv_drv/ndis/linux/InterfaceAdapter.h"

namespace ndis::linux_media {
namespace {

constexpr ULONG kMacOptions = NDIS_MAC_OPTION_COPY_LOOKAHEAD_DATA |
                              NDIS_MAC_OPTION_TRANSFERS_NOT_PEND | NDIS_MAC_OPTION_NO_LOOPBACK;

// Asked afresh for each query: the driver behind an interface (a module reload) or its address
// can change while we are bound. What was known at the bind stands in when it has gone.
InterfaceInfo Current(const InterfaceInfo& known) {
    InterfaceInfo fresh;
    std::string error;
    return QueryInterface(known.name, fresh, error) ? fresh : known;
}

}  // namespace

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::u16string InterfaceAdapter::Name() const {
    return Widen(info_.name);
}

NDIS_STATUS InterfaceAdapter::Request(PNDIS_REQUEST r) {
    if (r->RequestType == NdisRequestSetInformation) {
        // Packet filters, multicast lists and the like: the kernel keeps the real interface's.
        r->DATA.SET_INFORMATION.BytesRead = r->DATA.SET_INFORMATION.InformationBufferLength;
        r->DATA.SET_INFORMATION.BytesNeeded = 0;
        return NDIS_STATUS_SUCCESS;
    }
    switch (r->DATA.QUERY_INFORMATION.Oid) {
        case OID_GEN_VENDOR_DESCRIPTION: {
            const std::string text = VendorDescription(Current(info_)) + descriptionSuffix_;
            return ndis::media::AnswerQuery(r, text.c_str(), UINT(text.size() + 1));
        }
        case OID_GEN_MEDIA_IN_USE: {
            const ULONG medium = NdisMedium802_3;
            return ndis::media::AnswerQuery(r, &medium, sizeof medium);
        }
        case OID_GEN_MAC_OPTIONS:
            return ndis::media::AnswerQuery(r, &kMacOptions, sizeof kMacOptions);
        case OID_802_3_CURRENT_ADDRESS: {
            const MacAddress mac = Current(info_).mac;
            return ndis::media::AnswerQuery(r, mac.data(), UINT(mac.size()));
        }
        default:
            break;
    }
    r->DATA.QUERY_INFORMATION.BytesWritten = 0;
    return NDIS_STATUS_NOT_SUPPORTED;
}

NDIS_STATUS InterfaceAdapter::TransferData(NDIS_HANDLE, UINT, UINT, PNDIS_PACKET,
                                           PUINT bytesTransferred) {
    *bytesTransferred = 0;
    return NDIS_STATUS_FAILURE;
}

}  // namespace ndis::linux_media
