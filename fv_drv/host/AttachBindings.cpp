#include "fv_drv/host/AttachBindings.h"

#include <cstdio>

#include "fv_drv/ndis/nfqueue/RuleTools.h"

namespace fv::host {

AttachBindings::AttachBindings(std::string runtimeDir) : runtimeDir_(std::move(runtimeDir)) {}

AttachBindings::~AttachBindings() {
    Stop();
}

bool AttachBindings::Attach(Attachment& a, const std::string& name, const StateFolder& state,
                            std::string& error) {
    a.name = name;
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
    if (interfaces.empty()) return true;
    ndis::nfqueue_media::SetIptablesLockFolder(runtimeDir_);
    for (const std::string& name : interfaces) {
        auto& a = *attachments_.emplace_back(std::make_unique<Attachment>());
        if (!Attach(a, name, state, error)) {
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
