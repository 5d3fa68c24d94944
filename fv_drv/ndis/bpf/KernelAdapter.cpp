#include "fv_drv/ndis/bpf/KernelAdapter.h"

#include "fv_drv/ndis/nfqueue/QueueAdapter.h"

namespace ndis::bpf_media {

std::u16string KernelAdapter::UpperBindings() const {
    return ndis::linux_media::Widen(ndis::nfqueue_media::AttachedAdapterName(Info().name));
}

}  // namespace ndis::bpf_media
