// ferrovane-sys --attach: the driver in the path of interfaces that keep their configuration,
// their traffic reaching it through the netfilter queue.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fv_drv/host/InterfaceClaim.h"
#include "fv_drv/host/StateFolder.h"
#include "fv_drv/ndis/nfqueue/NetfilterQueue.h"
#include "fv_drv/ndis/nfqueue/QueueAdapter.h"
#include "fv_drv/ndis/nfqueue/QueueRules.h"

namespace fv::host {

class AttachBindings {
public:
    ~AttachBindings();
    // Attaches each interface, claimed in `state`. On failure nothing stays attached and no rule
    // of ours remains.
    bool Start(const std::vector<std::string>& interfaces, const StateFolder& state,
               std::string& error);
    // Takes the rules away first, so that traffic flows on untouched while the rest unbinds.
    void Stop();

private:
    struct Attachment {
        InterfaceClaim claim;
        ndis::nfqueue_media::NetfilterQueue queue;
        std::unique_ptr<ndis::nfqueue_media::QueueAdapter> adapter;
        ndis::nfqueue_media::QueueRules rules;
        bool added = false;
    };
    bool Attach(Attachment& a, const std::string& name, const StateFolder& state,
                std::string& error);
    std::vector<std::unique_ptr<Attachment>> attachments_;
};

}  // namespace fv::host
