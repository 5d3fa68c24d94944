// Where the control device is found, and the names of the events the program hands to it.
#pragma once

// The device folder: $FERROVANE_DEVICE_DIR, else the default.
inline constexpr const char* kDeviceDirVariable = "FERROVANE_DEVICE_DIR";
inline constexpr const char* kDefaultDeviceDir = "/run/ferrovane";

// Device socket names below the device folder: the primary name and the fallback.
inline constexpr const char* kControlDeviceName = "Ferrovane";
inline constexpr const char* kControlDeviceFallbackName = "Globals/Ferrovane";

// The program's named events, and the kernel names the driver opens them by.
inline constexpr const char* kBlockedEventName = "FerrovaneBlkPcktEvent";
inline constexpr const char* kGrantedEventName = "FerrovaneGrantedPcktEvent";
inline constexpr const char* kExitEventName = "FerrovaneExitEvent";
inline constexpr const char* kKernelObjectPrefix = "\\BaseNamedObjects\\";
