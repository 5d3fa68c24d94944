// A notification area that keeps icons as the real one does (add refused for an icon that
// exists, modify and delete for one that does not) and records every call.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "fv_gui/notify/ShellIcon.h"

namespace fv::notify::testing {

class FakeShell : public ShellIcons {
public:
    struct Call {
        ShellMessage message;
        NotifyIconData data;
        bool result;
    };

    bool NotifyIcon(ShellMessage message, const NotifyIconData& data) override {
        const auto key = std::make_pair(static_cast<const void*>(data.window), data.id);
        bool result = !refuseAll;
        if (result) {
            switch (message) {
            case ShellMessage::Add: result = icons.emplace(key, data).second; break;
            case ShellMessage::Modify: result = icons.count(key) > 0; if (result) icons[key] = data; break;
            case ShellMessage::Delete: result = icons.erase(key) > 0; break;
            }
        }
        calls.push_back({message, data, result});
        return result;
    }

    // The tray host went away and came back with no icons.
    void Restart() { icons.clear(); }

    std::vector<Call> Calls(ShellMessage message) const {
        std::vector<Call> out;
        for (const auto& c : calls) {
            if (c.message == message) out.push_back(c);
        }
        return out;
    }

    bool refuseAll = false;
    std::vector<Call> calls;
    std::map<std::pair<const void*, std::uint32_t>, NotifyIconData> icons;
};

}  // namespace fv::notify::testing
