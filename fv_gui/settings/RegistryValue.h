// One registry value with its last known content: RegistryDword (32-bit) and RegistryString.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fv_platform/registry/Registry.h"

namespace fv {

using registry::Hive;

// Splits "Software\Ferrovane\Settings\Popup" at its last backslash into key and value name;
// backslashes at the ends of the two pieces are trimmed.
void SplitRegistryPath(std::string_view fullPath, std::string& key, std::string& name);

class RegistryDword {
public:
    // Splits the path and reads the value at once.
    RegistryDword(std::string_view fullPath, std::uint32_t defaultValue,
                  Hive root = Hive::CurrentUser);

    // The stored value (remembered, found set), or the default when it cannot be read (the
    // last value is left alone).
    std::uint32_t Read();
    // Read when not found yet, else the last value.
    std::uint32_t Get();
    // Writes `value` when it differs from the last value or nothing is stored yet; a value the
    // registry already holds is not written again. False when the write failed.
    bool Set(std::uint32_t value);
    // Set when `value` differs from the last value, unless the hive could not be read when the
    // value was last read and nothing has been written since: what it holds is unknown, and a
    // default must not replace it.
    void WriteBack(std::uint32_t value);

    bool Found() const { return found_; }
    bool Unreadable() const { return unreadable_; }
    std::uint32_t LastValue() const { return last_; }
    std::uint32_t Default() const { return default_; }
    const std::string& Key() const { return key_; }
    const std::string& Name() const { return name_; }

private:
    Hive root_;
    std::string key_;
    std::string name_;
    std::uint32_t last_ = 0;
    std::uint32_t default_;
    bool found_ = false;
    bool unreadable_ = false;
};

class RegistryString {
public:
    RegistryString(std::string_view fullPath, std::string defaultValue,
                   Hive root = Hive::CurrentUser);

    std::string Read();
    std::string Get();
    // Texts compare with case; the text is written with its terminating zero. False when the
    // write failed.
    bool Set(std::string_view value);

    bool Found() const { return found_; }
    // The hive could not be read at the last read, and nothing has been written since.
    bool Unreadable() const { return unreadable_; }
    const std::string& LastValue() const { return last_; }
    const std::string& Default() const { return default_; }
    const std::string& Key() const { return key_; }
    const std::string& Name() const { return name_; }

private:
    Hive root_;
    std::string key_;
    std::string name_;
    std::string last_;
    std::string default_;
    bool found_ = false;
    bool unreadable_ = false;
};

}  // namespace fv
