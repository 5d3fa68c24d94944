// System tests run as root inside a network namespace of their own, so that they can make
// interfaces freely and leave nothing behind.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fv::systest {

// Enters a fresh network namespace for the calling thread (and the commands it starts).
// Returns an empty string, or why the system tests cannot run here.
inline std::string EnterPrivateNetwork() {
    if (geteuid() != 0) return "system tests need root";
    if (unshare(CLONE_NEWNET) != 0) return "cannot create a network namespace";
    if (std::system("ip link set lo up") != 0) return "iproute2 is missing";
    return {};
}

inline bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// What `command` writes to its standard output; empty when it cannot be started.
inline std::string Output(const std::string& command) {
    std::string text;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return text;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
    pclose(p);
    return text;
}

// Both views of the ruleset, counters left out: they move with the traffic.
inline std::string Ruleset() {
    return Output(
        "{ nft list ruleset; iptables-save; } 2>&1 | grep -v '^#' | "
        "sed -E 's/counter packets [0-9]+ bytes [0-9]+/counter/; s/\\[[0-9]+:[0-9]+\\]//'");
}

}  // namespace fv::systest

#define FV_REQUIRE_PRIVATE_NETWORK()                                 \
    do {                                                             \
        static const std::string why = fv::systest::EnterPrivateNetwork(); \
        if (!why.empty()) GTEST_SKIP() << why;                       \
    } while (0)
