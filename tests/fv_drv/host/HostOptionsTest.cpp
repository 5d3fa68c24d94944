#include "fv_drv/host/HostOptions.h"

#include <gtest/gtest.h>

namespace {

using fv::host::HostOptions;
using fv::host::ParseHostOptions;

TEST(HostOptions, BindingsDefaultsAndEnvironment) {
    HostOptions o;
    std::string error;
    ASSERT_TRUE(ParseHostOptions({"--bind", "eth0", "--bind", "wlan0=fvw"}, nullptr, o, error));
    EXPECT_EQ(o.deviceDir, "/run/ferrovane");
    ASSERT_EQ(o.bindings.size(), 2u);
    EXPECT_EQ(o.bindings[0].upper, "fv-eth0");
    EXPECT_EQ(o.bindings[1].lower, "wlan0");
    EXPECT_EQ(o.bindings[1].upper, "fvw");
    ASSERT_TRUE(ParseHostOptions({"--sim"}, "/tmp/dev", o, error));
    EXPECT_EQ(o.deviceDir, "/tmp/dev");
    ASSERT_TRUE(ParseHostOptions({"--sim", "--device-dir", "/x", "--device-group", "fv"},
                                 "/tmp/dev", o, error));
    EXPECT_EQ(o.deviceDir, "/x");
    EXPECT_EQ(o.deviceGroup, "fv");
    ASSERT_TRUE(ParseHostOptions({"--attach", "wlan0", "--bind", "eth0", "--attach", "wg0"},
                                 nullptr, o, error));
    EXPECT_EQ(o.attachments, (std::vector<std::string>{"wlan0", "wg0"}));
    EXPECT_EQ(o.bindings.size(), 1u);
    EXPECT_EQ(o.attachMode, fv::host::AttachMode::Auto);
    ASSERT_TRUE(ParseHostOptions({"--attach-mode", "queue", "--attach", "eth0"}, nullptr, o, error));
    EXPECT_EQ(o.attachMode, fv::host::AttachMode::Queue);
    ASSERT_TRUE(ParseHostOptions({"--detach", "eth0", "--detach", "wlan0"}, nullptr, o, error));
    EXPECT_EQ(o.detach, (std::vector<std::string>{"eth0", "wlan0"}));
}

TEST(HostOptions, BadCommandLinesAreRefusedWithAReason) {
    HostOptions o;
    const std::vector<std::vector<std::string>> bad = {
        {},                                      // nothing to bind
        {"--bind"},                              // missing value
        {"--bind", ""},                          // empty value
        {"--bind", "=up"},                       // no lower
        {"--bind", "eth0="},                     // empty upper
        {"--bind", "a-name-far-too-long-0"},     // longer than the kernel allows
        {"--bind", "eth0", "--bind", "eth0=x"},  // lower twice
        {"--bind", "eth0=eth1", "--bind", "eth1"},
        {"--bind", "eth0=eth0"},
        {"--bind", "../x"},
        {"--sim", "--frobnicate"},
        {"--attach", "eth0", "--attach", "eth0"},
        {"--attach", "eth0", "--bind", "eth0"},
        {"--bind", "eth1=eth0", "--attach", "eth0"},
        {"--bind", "eth1=fv@eth0", "--attach", "eth0"},  // the attached adapter's own name
        {"--attach", "eth\"0"},                          // would end the name inside a rule
        {"--attach", "eth+"},                            // a pattern, not an interface
        {"--attach", "eth0", "--attach-mode", "kernel"},
        {"--detach", "eth0", "--attach", "eth1"},        // a removal, not a run
        {"--detach", "../x"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(ParseHostOptions(args, nullptr, o, error)) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
