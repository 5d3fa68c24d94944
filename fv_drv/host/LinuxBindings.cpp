#include "fv_drv/host/LinuxBindings.h"

namespace fv::host {

LinuxBindings::~LinuxBindings() {
    Stop();
}

bool LinuxBindings::Start(const std::vector<Binding>& bindings, const StateFolder& state,
                          std::string& error) {
    for (const Binding& b : bindings) {
        ndis::linux_media::InterfaceInfo info;
        Port& port = ports_.emplace_back();
        // Claimed first: another daemon's settings of the interface are not ours to keep.
        if (!port.claim.Take(state, b.lower, error)) {
            error = b.lower + ": " + error;
            Stop();
            return false;
        }
        if (!ndis::linux_media::QueryInterface(b.lower, info, error)) {
            Stop();
            return false;
        }
        port.adapter = std::make_unique<ndis::linux_media::LinuxAdapter>(info, b.upper);
        port.adapter->KeepSettingsIn(state.fd.Get(), state.FileFor("settings", b.lower));
        if (!port.adapter->Prepare(error)) {
            error = b.lower + ": " + error;
            Stop();
            return false;
        }
        port.tap = std::make_unique<ndis::linux_media::TapStack>();
        // The TAP is the adapter's only sender: its frames go out in batches.
        port.adapter->SetBatching(true);
        port.tap->OnBatchSent([adapter = port.adapter.get()] { adapter->FlushSends(); });
        // Each side, done with its own work, carries on what its writes brought in from the
        // other: an answer needs no second thread to wake on its way.
        port.tap->OnDrained([adapter = port.adapter.get()] { adapter->PollReceive(); });
        port.adapter->OnIndicated([tap = port.tap.get()] { tap->PollSend(); });
        ndis::host::AddLowerAdapter(port.adapter.get());
        port.added = true;
        if (!port.tap->Start(b.upper, info.mac, info.mtu, info.running, error)) {
            error = b.upper + ": " + error;
            Stop();
            return false;
        }
    }
    return true;
}

void LinuxBindings::Stop() {
    // The stack goes first, so that nothing is sent into an adapter that is unbinding.
    for (auto it = ports_.rbegin(); it != ports_.rend(); ++it) {
        if (it->tap) it->tap->Stop();
        if (it->added) ndis::host::RemoveLowerAdapter(it->adapter.get());
    }
    ports_.clear();
}

}  // namespace fv::host
