#include "fv_platform/NamedEvents.h"

#include <algorithm>
#include <exception>
#include <mutex>

namespace fv {
namespace {

struct Table {
    std::mutex lock;
    std::vector<std::pair<std::string, std::shared_ptr<Event>>> events;
};

Table& TheTable() {
    static Table table;
    return table;
}

}  // namespace

std::shared_ptr<Event> CreateNamedEvent(const std::string& name, Event::Mode mode,
                                        bool initiallySignalled) {
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    for (auto& [n, e] : t.events) {
        if (n == name) return e;
    }
    std::shared_ptr<Event> event;
    try {
        event = std::make_shared<Event>(mode, initiallySignalled);
    } catch (const std::exception&) {
        return nullptr;  // errno tells why
    }
    t.events.emplace_back(name, event);
    return event;
}

void ReleaseNamedEvent(const std::string& name) {
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    std::erase_if(t.events, [&](const auto& entry) { return entry.first == name; });
}

std::vector<std::pair<std::string, std::shared_ptr<Event>>> NamedEventsSnapshot() {
    Table& t = TheTable();
    std::lock_guard guard(t.lock);
    return t.events;
}

}  // namespace fv
