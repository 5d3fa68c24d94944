#include "fv_drv/host/AttachBindings.h"

namespace fv::host {

AttachBindings::~AttachBindings() {
    Stop();
}

bool AttachBindings::Attach(Attachment& a, const std::string& name, const StateFolder& state,
                            std::string& error) {
    ndis::linux_media::InterfaceInfo info;
    if (!a.claim.Take(state, name, error) || !ndis::linux_media::QueryInterface(name, info, error)) {
        return false;
    }
    // A queue number still named by an earlier run's rules would hand us its packets
    // before we are ready for them.
    ndis::nfqueue_media::QueueRules::RemoveLeftovers(name);
    if (!a.queue.Open(ndis::nfqueue_media::kFirstQueueNumber, error)) return false;
    a.adapter = std::make_unique<ndis::nfqueue_media::QueueAdapter>(info, a.queue);
    ndis::host::AddLowerAdapter(a.adapter.get());
    a.added = true;
    return a.adapter->AttachUpper(error) && a.adapter->Start(error) &&
           a.rules.Install(name, a.queue.Number(), error);
}

bool AttachBindings::Start(const std::vector<std::string>& interfaces, const StateFolder& state,
                           std::string& error) {
    for (const std::string& name : interfaces) {
        auto& a = *attachments_.emplace_back(std::make_unique<Attachment>());
        if (!Attach(a, name, state, error)) {
            error = name + ": " + error;
            Stop();
            return false;
        }
    }
    return true;
}

void AttachBindings::Stop() {
    for (auto it = attachments_.rbegin(); it != attachments_.rend(); ++it) {
        Attachment& a = **it;
        a.rules.Remove();
        if (a.adapter) a.adapter->Stop();
        if (a.added) ndis::host::RemoveLowerAdapter(a.adapter.get());
        a.queue.Close();
    }
    attachments_.clear();
}

}  // namespace fv::host
