// The adapter selector's rules without the widget: which items it lists, which one a stored
// setting selects, and what a chosen text stands for. Names compare without regard to ASCII
// letter case; device names are looked up without ever adding to the list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fv_gui/client/AdapterEnumeration.h"

namespace fv {

// "<not selected>" first, then every entry's vendor description in list order.
std::vector<std::string> AdapterItems(const AdapterList& list);

// The first item equal to `text` without regard to case, searched from item 0; -1 when none.
int FindItemExact(const std::vector<std::string>& items, std::string_view text);

// The entry of a device name, or null.
const AdapterInfo* FindAdapter(const AdapterList& list, std::string_view deviceName);

// The first entry, in list order, whose vendor description equals `text` without regard to case.
const AdapterInfo* FindByDisplayName(const AdapterList& list, std::string_view text);

// The item a fill selects for the stored `SelectedAdapter`: its entry's display item when the
// list holds it, else 0.
int StoredSelectionItem(const AdapterList& list, const std::vector<std::string>& items,
                        std::string_view storedDevice);

}  // namespace fv
