// Whether an interface's clsact hooks carry filters: before the daemon takes away a clsact
// qdisc it made, so that another tool's filters added since are not taken with it.
#pragma once

namespace ndis::bpf_media {

// True when either hook of `ifindex` has a filter, or when that cannot be learned (keeping an
// empty qdisc costs nothing; removing one in use breaks another tool).
[[nodiscard]] bool HooksCarryFilters(int ifindex);

}  // namespace ndis::bpf_media
