// The folders a program under test runs in, all inside one temporary folder, and the blocklist
// of two networks it loads.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "fv_contract/DeviceNames.h"
#include "tests/fv_gui/TestFiles.h"

namespace fv::test {

// Points the device, registry, configuration and runtime folders into `dir`, makes the device,
// log and runtime folders, and writes the two-network list to `blocklist`.
inline void PrepareProgramFolders(const std::filesystem::path& dir, const std::string& blocklist) {
    ::setenv(kDeviceDirVariable, (dir / "dev").c_str(), 1);
    ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    std::filesystem::create_directories(dir / "dev");
    std::filesystem::create_directories(dir / "logs");
    ::mkdir((dir / "run").c_str(), 0700);
    WriteFile(blocklist, "Listed Net:203.0.113.0-203.0.113.255\r\nOther Net:198.51.100.7-198.51.100.9\r\n");
}

}  // namespace fv::test
