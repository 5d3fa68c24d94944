// Whether the desktop's tray is a StatusNotifier host (GNOME with the AppIndicator extension,
// KDE) rather than an XEmbed tray: such a host reports a click as "activate" and never a
// double click, so the icon's owner must take a click as what a double click is elsewhere.
#pragma once

namespace fv::notify {

inline constexpr char kStatusNotifierWatcherService[] = "org.kde.StatusNotifierWatcher";
inline constexpr char kStatusNotifierWatcherPath[] = "/StatusNotifierWatcher";
inline constexpr char kStatusNotifierItemInterface[] = "org.kde.StatusNotifierItem";
inline constexpr char kStatusNotifierItemPath[] = "/StatusNotifierItem";

// Asks the session bus: a watcher is there and a host has registered with it. This is the
// question Qt asks once per process to choose between the two kinds of tray.
[[nodiscard]] bool StatusNotifierHostPresent();

}  // namespace fv::notify
