// The adapter selector's rules without the widget: which items it lists, which one a stored
// setting selects, and which entry a chosen item stands for. Items and entries correspond by
// position, so adapters that describe themselves alike stay apart; device names are looked up
// without ever adding to the list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fv_gui/client/AdapterEnumeration.h"

namespace fv {

// The interface part of a device name: what follows its last backslash ("\Device\eth0" -> "eth0").
std::string_view InterfaceName(std::string_view deviceName);

// The text of an entry's item: its description and, in brackets, its interface name, so that two
// adapters with the same description can be told apart.
std::string AdapterItemText(const AdapterInfo& entry);

// "<not selected>" first, then every entry's item text in list order.
std::vector<std::string> AdapterItems(const AdapterList& list);

// The entry of a device name, or null.
const AdapterInfo* FindAdapter(const AdapterList& list, std::string_view deviceName);

// The item of a device name in AdapterItems' order: 0 when the name is empty or not listed.
int ItemOfDevice(const AdapterList& list, std::string_view deviceName);

// The entry an item stands for: null for item 0 ("<not selected>") and for items past the list.
const AdapterInfo* EntryOfItem(const AdapterList& list, int item);

}  // namespace fv
