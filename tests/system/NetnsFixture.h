// System tests run as root inside a network namespace of their own, so that they can make
// interfaces freely and leave nothing behind.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

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

}  // namespace fv::systest

#define FV_REQUIRE_PRIVATE_NETWORK()                                 \
    do {                                                             \
        static const std::string why = fv::systest::EnterPrivateNetwork(); \
        if (!why.empty()) GTEST_SKIP() << why;                       \
    } while (0)
