#!/usr/bin/env bash
# The in-place medium (--attach) against the bare veth pair and the TAP intermediate (--bind),
# in one run (root).
#   bench/fv_drv/attach_bench.sh [SECONDS]
# Prints, for each: TCP Gbit/s both ways, 64-byte UDP packets per second and the median
# round-trip time of 1,000 pings, with a one-entry table in force and filtering on.
set -euo pipefail
seconds=${1:-5}
root=$(cd "$(dirname "$0")/../.." && pwd)
daemon=$root/build/fv_drv/host/ferrovane-sys
client=$root/build/bench/fv_drv/fv_filter_on
[ "$(id -u)" -eq 0 ] || { echo "needs root" >&2; exit 1; }
need=()
command -v iperf3 >/dev/null || need+=(iperf3)
command -v ping >/dev/null || need+=(iputils-ping)
if [ ${#need[@]} -gt 0 ]; then apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null; fi
[ -x "$daemon" ] && [ -x "$client" ] || { echo "build first: scripts/test" >&2; exit 1; }

ws=fvattach-ws-$$ rm=fvattach-rm-$$ dev=$(mktemp -d)
lower=fvab0 remote=10.204.0.1 local=10.204.0.2
cleanup() {
    ip netns pids "$ws" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns pids "$rm" 2>/dev/null | xargs -r kill 2>/dev/null || true
    sleep 0.5
    ip netns del "$ws" 2>/dev/null || true
    ip netns del "$rm" 2>/dev/null || true
    rm -rf "$dev"
}
trap cleanup EXIT
ip netns add "$ws"
ip netns add "$rm"
ip link add "$lower" netns "$ws" type veth peer name fvabr0 netns "$rm"
ip -n "$ws" link set lo up
ip -n "$rm" link set lo up
ip -n "$ws" link set "$lower" up
ip -n "$rm" link set fvabr0 up
ip -n "$rm" addr add "$remote/24" dev fvabr0
ip netns exec "$rm" iperf3 -s -D >/dev/null

tcp() { ip netns exec "$ws" iperf3 -c "$remote" -t "$seconds" -J "$@" |
        python3 -c 'import json,sys; d=json.load(sys.stdin); print("%.2f" % (d["end"]["sum_received"]["bits_per_second"]/1e9))'; }
udp() { ip netns exec "$ws" iperf3 -c "$remote" -u -l 64 -b 0 -t "$seconds" -J |
        python3 -c 'import json,sys; d=json.load(sys.stdin); s=d["end"]["sum"]; print("%d" % ((s["packets"]-s["lost_packets"])/s["seconds"]))'; }
rtt() { ip netns exec "$ws" ping -n -c 1000 -i 0.002 "$remote" |
        sed -n 's/.*time=\([0-9.]*\) ms/\1/p' | sort -n | sed -n 500p; }
# Each throughput figure is the median of three runs: sender, receiver and the daemon share the
# cores, so single runs scatter.
median() { sort -n | sed -n 2p; }
measure() {
    local out in udp64 ping
    out=$(for _ in 1 2 3; do tcp; done | median)
    in=$(for _ in 1 2 3; do tcp -R; done | median)
    udp64=$(for _ in 1 2 3; do udp; done | median)
    ping=$(rtt)
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
    ip netns exec "$ws" "$client" "$dev/Ferrovane" "$lower" &
    client_pid=$!
    sleep 1
}
stop() {
    kill "$client_pid" 2>/dev/null || true
    wait "$client_pid" 2>/dev/null || true
    kill "$daemon_pid"
    wait "$daemon_pid" || true
}

ip -n "$ws" addr add "$local/24" dev "$lower"
sleep 0.5
measure bare

start --attach "$lower"
for _ in $(seq 50); do ip netns exec "$ws" nft list ruleset 2>/dev/null | grep -q "oifname \"$lower\"" && break; sleep 0.1; done
filter_on
measure attach
stop

ip -n "$ws" addr del "$local/24" dev "$lower"
start --bind "$lower"
ip -n "$ws" addr add "$local/24" dev "fv-$lower"
filter_on
measure tap
stop
