// Tells the service manager how the daemon is doing: a datagram of "KEY=value" lines to the unix
// socket named by NOTIFY_SOCKET (abstract when the name starts with '@'). Without that variable
// (run by hand, by the tests) nothing is sent.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace fv::host {

class ServiceNotifier {
public:
    // No socket: every message is dropped.
    ServiceNotifier() = default;
    explicit ServiceNotifier(std::string address) : address_(std::move(address)) {}

    // Takes NOTIFY_SOCKET and removes it from the environment, so that the tools the daemon
    // runs (nft, iptables) never speak for it. Call before any thread starts.
    static ServiceNotifier FromEnvironment();

    bool Active() const { return !address_.empty(); }

    // Sends `message` as one datagram. False when there is no socket or it could not be sent;
    // the daemon carries on either way.
    bool Send(std::string_view message) const;
    // Sends `message` with a copy of `fd` (for FDSTORE=1: the manager keeps it for the next run).
    bool SendWithFd(std::string_view message, int fd) const;

private:
    std::string address_;
};

// A single line for STATUS=: line breaks would start a new assignment.
std::string StatusLine(std::string_view text);

}  // namespace fv::host
