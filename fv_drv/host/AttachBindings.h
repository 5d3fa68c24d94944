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

#include "fv_drv/host/HostOptions.h"
#include "fv_drv/host/InterfaceClaim.h"
#include "fv_drv/host/KernelMirror.h"
#include "fv_drv/host/ServiceNotify.h"
#include "fv_drv/host/StoredFds.h"
#include "fv_drv/host/StateFolder.h"
#include "fv_drv/ndis/bpf/KernelAdapter.h"
#include "fv_drv/ndis/bpf/KernelFilter.h"
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
    // Kernel filters hand their descriptors to the service manager's store, and take them from
    // there after a crash. Both must outlive this object.
    void KeepKernelFiltersWith(const ServiceNotifier& service, const StoredFds& stored) {
        service_ = &service;
        stored_ = &stored;
    }
    // Attaches each interface, claimed in `state`, in the kernel or through the queue as `mode`
    // says. On failure nothing stays attached and no rule or filter of ours remains.
    bool Start(const std::vector<std::string>& interfaces, AttachMode mode,
               const StateFolder& state, std::string& error);
    // Takes the rules and kernel filters away first, so that traffic flows on untouched while
    // the rest unbinds. A crash skips this: the kernel filters stay and go on filtering.
    void Stop();
    // Removes the kernel filters a crashed daemon left on `name`.
    static bool DetachLeftovers(const std::string& name, std::string& error);

private:
    struct Attachment {
        InterfaceClaim claim;
        ndis::nfqueue_media::NetfilterQueue queue;
        std::unique_ptr<ndis::nfqueue_media::QueueAdapter> adapter;
        ndis::nfqueue_media::QueueRules rules;
        // In the kernel instead: the filters, the adapter standing for them, their mirror.
        std::unique_ptr<ndis::bpf_media::KernelFilter> kernel;
        std::unique_ptr<ndis::bpf_media::KernelAdapter> kernelAdapter;
        std::unique_ptr<KernelMirror> mirror;
        ndis::media::LowerAdapter* lower = nullptr;  // the one added, of either medium
        int tableRole = 0;  // the store's name of the kernel table in force
        std::string name;
    };
    bool Attach(Attachment& a, const std::string& name, AttachMode mode, const StateFolder& state,
                std::string& error);
    bool AttachQueue(Attachment& a, const ndis::linux_media::InterfaceInfo& info,
                     std::string& error);
    bool AttachKernel(Attachment& a, const ndis::linux_media::InterfaceInfo& info,
                      std::string& error);
    void Release(Attachment& a);
    // Hands the kernel's table in force to the service manager's store.
    void StoreTable(Attachment& a);
    void WatchRules();
    void StopWatch();

    std::string runtimeDir_;
    const ServiceNotifier* service_ = nullptr;
    const StoredFds* stored_ = nullptr;
    std::vector<std::unique_ptr<Attachment>> attachments_;
    std::mutex watchLock_;
    std::condition_variable watchWake_;
    bool watchStop_ = false;
    std::thread watch_;
};

}  // namespace fv::host
