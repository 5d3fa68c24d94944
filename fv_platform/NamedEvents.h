// The process's named events. A control connection carries all of them to the driver, which
// opens the program's events by name from that table.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fv_platform/Event.h"

namespace fv {

// Creates the named event, or returns the existing one of that name (as CreateEvent does); null,
// with errno set, when no event can be created.
std::shared_ptr<Event> CreateNamedEvent(const std::string& name, Event::Mode mode,
                                        bool initiallySignalled = false);
// Drops the process's reference to the name; holders keep their event.
void ReleaseNamedEvent(const std::string& name);
// A snapshot of the table, in creation order.
std::vector<std::pair<std::string, std::shared_ptr<Event>>> NamedEventsSnapshot();

}  // namespace fv
