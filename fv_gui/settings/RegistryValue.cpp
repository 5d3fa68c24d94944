#include "fv_gui/settings/RegistryValue.h"


namespace fv {

namespace {

std::string_view TrimBackslashes(std::string_view text) {
    while (!text.empty() && text.front() == '\\') text.remove_prefix(1);
    while (!text.empty() && text.back() == '\\') text.remove_suffix(1);
    return text;
}

}  // namespace

void SplitRegistryPath(std::string_view fullPath, std::string& key, std::string& name) {
    const std::size_t split = fullPath.rfind('\\');
    if (split == std::string_view::npos) {
        key.clear();
        name = std::string(TrimBackslashes(fullPath));
        return;
    }
    key = std::string(TrimBackslashes(fullPath.substr(0, split)));
    name = std::string(TrimBackslashes(fullPath.substr(split + 1)));
}

RegistryDword::RegistryDword(std::string_view fullPath, std::uint32_t defaultValue, Hive root)
    : root_(root), default_(defaultValue) {
    SplitRegistryPath(fullPath, key_, name_);
    Read();
}

std::uint32_t RegistryDword::Read() {
    std::uint32_t value = 0;
    const registry::ReadResult result = registry::ReadDword(root_, key_, name_, value);
    unreadable_ = result == registry::ReadResult::Unreadable;
    if (result != registry::ReadResult::Found) return default_;
    last_ = value;
    found_ = true;
    return last_;
}

std::uint32_t RegistryDword::Get() { return found_ ? last_ : Read(); }

bool RegistryDword::Set(std::uint32_t value) {
    // The last value is 0 while nothing is stored, so an absent value must still be written: a
    // user who picks 0 would otherwise get the default back at the next start.
    if (found_ && value == last_) return true;
    last_ = value;
    if (!registry::SetDword(root_, key_, name_, value)) return false;
    found_ = true;
    unreadable_ = false;
    return true;
}

void RegistryDword::WriteBack(std::uint32_t value) {
    // Unchanged values, among them defaults of 0 that were never stored, stay as they are.
    if (!unreadable_ && value != last_) Set(value);
}

RegistryString::RegistryString(std::string_view fullPath, std::string defaultValue, Hive root)
    : root_(root), default_(std::move(defaultValue)) {
    SplitRegistryPath(fullPath, key_, name_);
    Read();
}

std::string RegistryString::Read() {
    std::string value;
    const registry::ReadResult result = registry::ReadString(root_, key_, name_, value);
    unreadable_ = result == registry::ReadResult::Unreadable;
    if (result != registry::ReadResult::Found) return default_;
    last_ = std::move(value);
    found_ = true;
    return last_;
}

std::string RegistryString::Get() { return found_ ? last_ : Read(); }

bool RegistryString::Set(std::string_view value) {
    if (value == last_) return true;
    last_ = std::string(value);
    if (!registry::SetString(root_, key_, name_, value)) return false;
    found_ = true;
    unreadable_ = false;
    return true;
}

}  // namespace fv
