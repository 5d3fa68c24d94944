// Turns filtering on for one adapter of a running ferrovane-sys and keeps the handle open until
// killed: a one-entry table (a documentation address nobody uses) and, with --report, both
// report switches on, as the program runs by default. For throughput measurements.
//   fv_filter_on SOCKET LOWER [--report]
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/fv_drv/BenchTables.h"
#include "fv_contract/ControlCodes.h"
#include "fv_platform/DeviceClient.h"
#include "fv_platform/NamedEvents.h"
#include "fv_contract/DeviceNames.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: fv_filter_on SOCKET LOWER [--report]\n");
        return 2;
    }
    const bool report = argc > 3 && std::strcmp(argv[3], "--report") == 0;
    for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) {
        fv::CreateNamedEvent(name, fv::Event::Mode::AutoReset);
    }
    fv::DeviceHandle h = fv::OpenDevice(argv[1]);
    auto call = [&](std::uint32_t code, const void* in = nullptr, std::uint32_t length = 0) {
        std::uint32_t word = 0;
        if (fv::DeviceIoControl(h, code, in, length, &word, sizeof word, nullptr)) return true;
        std::fprintf(stderr, "request 0x%08X failed: error %u\n", code, fv::GetLastError());
        return false;
    };
    const std::string lower = argv[2];
    const std::u16string wide(lower.begin(), lower.end());
    const std::vector<std::uint8_t> upload = fv::bench::OneAddress(fv::bench::kUnusedAddress);
    const std::uint8_t on = report ? 1 : 0;
    if (!h.Valid() || !call(IOCTL_CREATE_BLOCKED_EVENT) || !call(IOCTL_CREATE_GRANTED_EVENT) ||
        !call(IOCTL_CREATE_EXIT_EVENT) ||
        !call(IOCTL_OPEN_ADAPTER, wide.data(), std::uint32_t(wide.size() * 2)) ||
        !call(IOCTL_SET_RANGES, upload.data(), std::uint32_t(upload.size())) ||
        !call(IOCTL_START_FILTER) || !call(IOCTL_SET_REPORT_GRANTED, &on, 1) ||
        !call(IOCTL_SET_REPORT_BLOCKED, &on, 1)) {
        return 1;
    }
    pause();
    return 0;
}
