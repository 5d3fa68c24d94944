#!/usr/bin/env bash
# The in-place medium (--attach through the packet queue, and in the kernel: the bpf row)
# against the bare veth pair and the TAP intermediate (--bind), in one run (root).
#   bench/fv_drv/attach_bench.sh [SECONDS] [--report]
# Prints, for each: TCP Gbit/s both ways, 64-byte UDP packets per second and the median
# round-trip time of 1,000 pings, with a one-entry table in force and filtering on; with
# --report, a record for every packet as well, as the program asks by default.
set -euo pipefail
seconds=${1:-5}
report=${2:-}
source "$(dirname "$0")/bench_net.sh"
fv_bench_prerequisites
lower=fvab0 local=10.204.0.2
fv_bench_network fvattach "$lower" fvabr0 10.204.0.1
rtt() { ip netns exec "$ws" ping -n -c 1000 -i 0.002 "$remote" |
        sed -n 's/.*time=\([0-9.]*\) ms/\1/p' | sort -n | sed -n 500p; }
# Rows are measured in turns, one run of each figure per row at a time, and each figure is the
# median of its row's three: the machine's speed drifts during a run (measured one row after the
# other, whichever row came first scored higher), and turns let the drift favour no row.
results=$dev/results
mkdir "$results"
once() {
    local turn
    turn="$(tcp) $(tcp -R) $(udp) $(rtt)"
    echo "$turn" >>"$results/$1"
    echo "turn: $1 $turn" >&2  # the scatter behind each median
}
report_row() {
    local out in udp64 ping
    figure() { cut -d' ' -f"$1" "$results/$2" | median; }
    out=$(figure 1 "$1") in=$(figure 2 "$1") udp64=$(figure 3 "$1") ping=$(figure 4 "$1")
    printf '%-10s TCP out %6s Gbit/s   TCP in %6s Gbit/s   UDP-64 %8s packets/s   ping %s ms\n' \
        "$1" "$out" "$in" "$udp64" "$ping"
}
# Starts the daemon with the given arguments and switches filtering on for the interface.
start() {
    ip netns exec "$ws" "$daemon" "$@" --device-dir "$dev" 2>/dev/null &
    daemon_pid=$!
    for _ in $(seq 50); do [ -S "$dev/Ferrovane" ] && break; sleep 0.1; done
}
filter_on() {
    ip netns exec "$ws" "$client" "$dev/Ferrovane" "$lower" $report &
    client_pid=$!
    sleep 1
}
stop() {
    kill "$client_pid" 2>/dev/null || true
    wait "$client_pid" 2>/dev/null || true
    kill "$daemon_pid"
    wait "$daemon_pid" || true
}

for _ in 1 2 3; do
    ip -n "$ws" addr add "$local/24" dev "$lower"
    sleep 0.5
    once bare

    start --attach "$lower" --attach-mode bpf
    for _ in $(seq 50); do ip netns exec "$ws" tc filter show dev "$lower" egress | grep -q fv_egress && break; sleep 0.1; done
    filter_on
    once bpf
    stop

    start --attach "$lower" --attach-mode queue
    for _ in $(seq 50); do ip netns exec "$ws" nft list ruleset 2>/dev/null | grep -q "oifname \"$lower\"" && break; sleep 0.1; done
    filter_on
    once attach
    stop

    ip -n "$ws" addr del "$local/24" dev "$lower"
    start --bind "$lower"
    ip -n "$ws" addr add "$local/24" dev "fv-$lower"
    filter_on
    once tap
    stop
done
for row in bare bpf attach tap; do report_row "$row"; done
