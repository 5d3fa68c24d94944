#include "fv_drv/host/AttachBindings.h"

#include <cstdio>

#include "fv_drv/ndis/nfqueue/RuleTools.h"

namespace fv::host {

AttachBindings::AttachBindings(std::string runtimeDir) : runtimeDir_(std::move(runtimeDir)) {}

AttachBindings::~AttachBindings() {
    Stop();
}

bool AttachBindings::Attach(Attachment& a, const std::string& name, AttachMode mode,
                            const StateFolder& state, std::string& error) {
    a.name = name;
    ndis::linux_media::InterfaceInfo info;
    if (!a.claim.Take(state, name, error) || !ndis::linux_media::QueryInterface(name, info, error)) {
        return false;
    }
    // A queue number still named by an earlier run's rules would hand us its packets
    // before we are ready for them; in the kernel they would queue packets nobody reads.
    ndis::nfqueue_media::QueueRules::RemoveLeftovers(name);
    if (mode == AttachMode::Queue) return AttachQueue(a, info, error);
    std::string why;
    if (AttachKernel(a, info, why)) return true;
    Release(a);
    if (mode == AttachMode::Bpf) {
        error = "cannot filter in the kernel: " + why;
        return false;
    }
    std::fprintf(stderr, "ferrovane-sys: %s: filtering through the packet queue: %s\n",
                 name.c_str(), why.c_str());
    return AttachQueue(a, info, error);
}

bool AttachBindings::AttachQueue(Attachment& a, const ndis::linux_media::InterfaceInfo& info,
                                 std::string& error) {
    if (!a.queue.Open(ndis::nfqueue_media::kFirstQueueNumber, error)) return false;
    a.adapter = std::make_unique<ndis::nfqueue_media::QueueAdapter>(info, a.queue);
    ndis::host::AddLowerAdapter(a.adapter.get());
    a.lower = a.adapter.get();
    return a.adapter->AttachUpper(error) && a.adapter->Start(error) &&
           a.rules.Install(info.name, a.queue.Number(), error);
}

bool AttachBindings::AttachKernel(Attachment& a, const ndis::linux_media::InterfaceInfo& info,
                                  std::string& error) {
    a.kernel = std::make_unique<ndis::bpf_media::KernelFilter>();
    // Filters a crashed daemon left go on filtering while we start: take them over as they are.
    ndis::bpf_media::KernelFilter::StoredFd stored;
    if (stored_ != nullptr) {
        stored = [this, &info](const char* role) { return stored_->Copy(info.name + "." + role); };
        // The table adopted keeps its name in the store; the next one takes the other.
        for (int role = 0; role < 2; ++role) {
            const fv::UniqueFd kept(
                stored_->Copy(info.name + "." + ndis::bpf_media::KernelFilter::kTableRoles[role]));
            if (kept) a.tableRole = role;
        }
    }
    const bool adopted = a.kernel->Adopt(info.index, stored, error);
    if (!adopted) {
        if (!error.empty()) {
            std::fprintf(stderr, "ferrovane-sys: %s: replacing the kernel filter left there: %s\n",
                         info.name.c_str(), error.c_str());
            a.kernel = std::make_unique<ndis::bpf_media::KernelFilter>();
        }
        if (!a.kernel->Load(error) || !a.kernel->Attach(info.index, error)) return false;
    } else {
        std::fprintf(stderr, "ferrovane-sys: %s: took over the kernel filter left there\n",
                     info.name.c_str());
    }
    a.kernelAdapter = std::make_unique<ndis::bpf_media::KernelAdapter>(info);
    ndis::host::AddLowerAdapter(a.kernelAdapter.get());
    a.lower = a.kernelAdapter.get();
    a.mirror = std::make_unique<KernelMirror>(*a.kernel, info.name);
    a.mirror->OnTable([this, &a] { StoreTable(a); });
    // Before the mirror starts: from then on uploads store their tables themselves.
    if (service_ != nullptr) {
        a.kernel->EachFd([&](const char* role, int fd) {
            service_->SendWithFd("FDSTORE=1\nFDNAME=" + info.name + "." + role, fd);
        });
        StoreTable(a);
    }
    return a.mirror->Start(a.kernelAdapter->Name(), adopted, error);
}

void AttachBindings::StoreTable(Attachment& a) {
    if (service_ == nullptr) return;
    // The new table goes in under the other name before the old one goes, so that a crash in
    // between still leaves the one in force with the store.
    using ndis::bpf_media::KernelFilter;
    const std::string prefix = a.name + ".";
    const int fd = a.kernel->TableFd();
    if (fd >= 0) {
        a.tableRole ^= 1;
        service_->SendWithFd("FDSTORE=1\nFDNAME=" + prefix + KernelFilter::kTableRoles[a.tableRole], fd);
    }
    const int old = fd >= 0 ? a.tableRole ^ 1 : 0;
    service_->Send("FDSTOREREMOVE=1\nFDNAME=" + prefix + KernelFilter::kTableRoles[old]);
    if (fd < 0) service_->Send("FDSTOREREMOVE=1\nFDNAME=" + prefix + KernelFilter::kTableRoles[1]);
}

void AttachBindings::Release(Attachment& a) {
    a.rules.Remove();
    if (a.kernel) {
        a.kernel->Detach();
        if (service_ != nullptr) {
            a.kernel->EachFd([&](const char* role, int) {
                service_->Send("FDSTOREREMOVE=1\nFDNAME=" + a.name + "." + role);
            });
            for (const char* role : ndis::bpf_media::KernelFilter::kTableRoles) {
                service_->Send("FDSTOREREMOVE=1\nFDNAME=" + a.name + "." + role);
            }
        }
    }
    if (a.mirror) a.mirror->Stop();
    if (a.adapter) a.adapter->Stop();
    if (a.lower != nullptr) ndis::host::RemoveLowerAdapter(a.lower);
    a.lower = nullptr;
    a.queue.Close();
    a.mirror.reset();
    a.kernelAdapter.reset();
    a.kernel.reset();
}

bool AttachBindings::DetachLeftovers(const std::string& name, std::string& error) {
    ndis::linux_media::InterfaceInfo info;
    if (!ndis::linux_media::QueryInterface(name, info, error)) return false;
    if (ndis::bpf_media::KernelFilter::DetachLeftovers(info.index, error)) return true;
    if (error.empty()) error = "no kernel filter of ours on " + name;
    return false;
}

bool AttachBindings::Start(const std::vector<std::string>& interfaces, AttachMode mode,
                           const StateFolder& state, std::string& error) {
    if (interfaces.empty()) return true;
    ndis::nfqueue_media::SetIptablesLockFolder(runtimeDir_);
    for (const std::string& name : interfaces) {
        auto& a = *attachments_.emplace_back(std::make_unique<Attachment>());
        if (!Attach(a, name, mode, state, error)) {
            error = name + ": " + error;
            Stop();
            return false;
        }
    }
    watchStop_ = false;
    watch_ = std::thread([this] { WatchRules(); });
    return true;
}

void AttachBindings::WatchRules() {
    std::unique_lock lock(watchLock_);
    while (!watchWake_.wait_for(lock, kRulesCheckPeriod, [this] { return watchStop_; })) {
        lock.unlock();
        for (auto& a : attachments_) {
            if (a->kernel) continue;
            using Kind = ndis::nfqueue_media::QueueRules::Kind;
            const bool wasIn = a->rules.Installed() != Kind::None;
            if (wasIn && a->rules.Intact()) continue;
            // Every packet passes unjudged until they are back: say so each time.
            std::string error;
            if (a->rules.Install(a->name, a->queue.Number(), error)) {
                std::fprintf(stderr, "ferrovane-sys: %s: the rules were removed; put back\n",
                             a->name.c_str());
            } else if (wasIn) {
                std::fprintf(stderr,
                             "ferrovane-sys: %s: the rules were removed; cannot put them back "
                             "(trying again): %s\n",
                             a->name.c_str(), error.c_str());
            }
        }
        lock.lock();
    }
}

void AttachBindings::StopWatch() {
    if (!watch_.joinable()) return;
    {
        std::lock_guard lock(watchLock_);
        watchStop_ = true;
    }
    watchWake_.notify_all();
    watch_.join();
}

void AttachBindings::Stop() {
    StopWatch();
    for (auto it = attachments_.rbegin(); it != attachments_.rend(); ++it) Release(**it);
    attachments_.clear();
}

}  // namespace fv::host
