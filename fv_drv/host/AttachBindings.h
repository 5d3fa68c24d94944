// ferrovane-sys --attach: the driver in the path of interfaces that keep their configuration,
// their traffic reaching it through the netfilter queue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fv_drv/host/InterfaceClaim.h"
#include "fv_drv/host/StateFolder.h"
#include "fv_drv/ndis/nfqueue/NetfilterQueue.h"
#include "fv_drv/ndis/nfqueue/QueueAdapter.h"
#include "fv_drv/ndis/nfqueue/QueueRules.h"

namespace fv::host {

class AttachBindings {
public:
    // How soon rules that someone else removed (a flushed ruleset, another firewall's reload)
    // are noticed and put back.
    static constexpr std::chrono::seconds kRulesCheckPeriod{1};

    // `runtimeDir` is the daemon's own folder; legacy iptables may keep its lock there.
    explicit AttachBindings(std::string runtimeDir);
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
        std::string name;
        bool added = false;
    };
    bool Attach(Attachment& a, const std::string& name, const StateFolder& state,
                std::string& error);
    void WatchRules();
    void StopWatch();

    std::string runtimeDir_;
    std::vector<std::unique_ptr<Attachment>> attachments_;
    std::mutex watchLock_;
    std::condition_variable watchWake_;
    bool watchStop_ = false;
    std::thread watch_;
};

}  // namespace fv::host
