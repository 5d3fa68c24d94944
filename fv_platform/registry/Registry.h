// The registry stand-in: each hive is a SQLite file with the tables reg_key and reg_value (see
// kSchema in Registry.cpp). Key paths are written with backslashes ("Software\Ferrovane\Settings");
// keys and value names compare without regard to ASCII letter case. Every write is its own
// transaction. A hive that cannot be opened, read or written behaves as a failed registry call:
// reads find nothing, writes return false. Readers open a hive read-write when they may, so that a
// transaction cut short by a crash is rolled back instead of making the hive unreadable.
//
// The machine's hive, created in a setgid folder, is group-writable (0664): every member of the
// folder's group keeps the lifetime totals. As any member may put files in that folder, the hive
// is opened only as a regular file: a symbolic link, FIFO or other file in its place, or in
// place of its journal, WAL or shared-memory file, makes it unreadable and unwritable.
//
// Hive files: $FERROVANE_REGISTRY_DIR/HKCU.sqlite and .../HKLM.sqlite when that variable is set;
// otherwise $XDG_CONFIG_HOME/ferrovane/HKCU.sqlite (default ~/.config/ferrovane/) and
// /var/lib/ferrovane/HKLM.sqlite.
//
// The current user's Run key value "Ferrovane" (Software\Microsoft\Windows\CurrentVersion\Run)
// is mirrored, after each successful write, to $XDG_CONFIG_HOME/autostart/ferrovane.desktop:
// present with Exec= the value while the value is not empty, removed when it is empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fv::registry {

enum class Hive { CurrentUser, LocalMachine };

inline constexpr std::uint32_t kTypeString = 1;  // REG_SZ: bytes and the terminating zero
inline constexpr std::uint32_t kTypeDword = 4;   // REG_DWORD: 4 bytes, little-endian

inline constexpr const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char kRunValueName[] = "Ferrovane";

struct Value {
    std::uint32_t type = 0;
    std::vector<unsigned char> data;
};

// The file that holds `hive`.
std::string HiveFile(Hive hive);
// $XDG_CONFIG_HOME (or ~/.config).
std::string ConfigHome();
// The autostart entry that mirrors the Run value.
std::string AutostartDesktopFile();

enum class ReadResult {
    Found,
    Absent,      // no hive, key or value: the registry holds nothing there
    Unreadable,  // the hive exists but could not be read: what it holds is unknown
};

bool KeyExists(Hive hive, std::string_view key);
ReadResult ReadValue(Hive hive, std::string_view key, std::string_view name, Value& value);
// As QueryDword and QueryString below; `result` is written only when found.
ReadResult ReadDword(Hive hive, std::string_view key, std::string_view name, std::uint32_t& result);
ReadResult ReadString(Hive hive, std::string_view key, std::string_view name, std::string& result);
// nullopt when the hive, the key or the value is absent or cannot be read.
std::optional<Value> QueryValue(Hive hive, std::string_view key, std::string_view name);
// Creates the key and its parents when needed and writes the value, in one transaction.
bool SetValue(Hive hive, std::string_view key, std::string_view name, std::uint32_t type,
              const void* data, std::size_t size);

// Convenience forms. QueryDword accepts up to 4 bytes of any type (the rest is zero);
// QueryString gives the bytes up to the first zero byte.
std::optional<std::uint32_t> QueryDword(Hive hive, std::string_view key, std::string_view name);
std::optional<std::string> QueryString(Hive hive, std::string_view key, std::string_view name);
bool SetDword(Hive hive, std::string_view key, std::string_view name, std::uint32_t value);
bool SetString(Hive hive, std::string_view key, std::string_view name, std::string_view value);

}  // namespace fv::registry
