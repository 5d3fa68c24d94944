// An adapter whose packets are decided outside the driver (in the kernel, on the interface's
// own hooks) from a copy of its filter state. The adapter requests keep that copy current under
// the adapter lock, and take the counters from it, so that the program sees the same driver.
#pragma once

#include "fv_contract/RangeImage.h"

struct FilterState;

class FilterMirror {
public:
    // The table goes in whole, or the call fails and the copy keeps the table it had.
    virtual bool PutTable(const RangeTable* table) = 0;
    // Filtering and the report switches, as `state` now has them.
    virtual void PutSwitches(const FilterState& state) = 0;
    // The counters counted there, into `state`.
    virtual void GetCounts(FilterState& state) = 0;
    virtual void ResetCounts() = 0;

protected:
    ~FilterMirror() = default;
};
