#!/usr/bin/env bash
# Throughput of the TAP intermediate against the bare veth pair, in the same run (root).
#   bench/fv_drv/tap_bench.sh [SECONDS]
# Prints TCP Gbit/s both ways, 64-byte UDP packets per second both ways, and the median and
# 99th percentile of 1,000 pings' round trips (10 ms apart), bare and through ferrovane-sys
# with a one-entry table in force and filtering on.
# With FV_BENCH_PROFILE=DIR, one more 64-byte UDP run each way through ferrovane-sys is
# recorded with perf and summarized in DIR/udp-out.txt and DIR/udp-in.txt.
set -euo pipefail
seconds=${1:-5}
root=$(cd "$(dirname "$0")/../.." && pwd)
daemon=$root/build/fv_drv/host/ferrovane-sys
client=$root/build/bench/fv_drv/fv_filter_on
[ "$(id -u)" -eq 0 ] || { echo "needs root" >&2; exit 1; }
command -v iperf3 >/dev/null && command -v ping >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq iperf3 iputils-ping >/dev/null; }
[ -x "$daemon" ] && [ -x "$client" ] || { echo "build first: scripts/test" >&2; exit 1; }

ws=fvbench-ws-$$ rm=fvbench-rm-$$ dev=$(mktemp -d)
cleanup() {
    ip netns pids "$ws" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns pids "$rm" 2>/dev/null | xargs -r kill 2>/dev/null || true
    sleep 0.3
    ip netns del "$ws" 2>/dev/null || true
    ip netns del "$rm" 2>/dev/null || true
    rm -rf "$dev"
}
trap cleanup EXIT
ip netns add "$ws"
ip netns add "$rm"
ip link add fvb0 netns "$ws" type veth peer name fvr0 netns "$rm"
ip -n "$ws" link set lo up
ip -n "$rm" link set lo up
ip -n "$ws" link set fvb0 up
ip -n "$rm" link set fvr0 up
ip -n "$rm" addr add 10.202.0.1/24 dev fvr0
ip netns exec "$rm" iperf3 -s -D >/dev/null

tcp() { ip netns exec "$ws" iperf3 -c 10.202.0.1 -t "$seconds" -J "$@" |
        python3 -c 'import json,sys; d=json.load(sys.stdin); print("%.2f" % (d["end"]["sum_received"]["bits_per_second"]/1e9))'; }
udp() { ip netns exec "$ws" iperf3 -c 10.202.0.1 -u -l 64 -b 0 -t "$seconds" -J "$@" |
        python3 -c 'import json,sys; d=json.load(sys.stdin); s=d["end"]["sum"]; print("%d" % ((s["packets"]-s["lost_packets"])/s["seconds"]))'; }
# Each figure is the median of three runs: on a small machine the sender, the receiver and the
# forwarder share the cores, so single runs scatter.
median() { sort -n | sed -n 2p; }
# Round trips in microseconds: "median p99" of 1,000 pings 10 ms apart.
latency() { ip netns exec "$ws" ping -n -c 1000 -i 0.01 10.202.0.1 |
            python3 -c 'import re,sys
t=sorted(float(m.group(1))*1000 for m in map(re.compile(r"time=([0-9.]+) ms").search, sys.stdin) if m)
print("%.0f %.0f" % (t[len(t)//2], t[min(len(t)-1, len(t)*99//100)]) if t else "- -")'; }
measure() {
    local out in udpOut udpIn rtt
    out=$(for _ in 1 2 3; do tcp; done | median)
    in=$(for _ in 1 2 3; do tcp -R; done | median)
    udpOut=$(for _ in 1 2 3; do udp; done | median)
    udpIn=$(for _ in 1 2 3; do udp -R; done | median)
    rtt=$(latency)
    printf '%-10s TCP out %6s Gbit/s   TCP in %6s Gbit/s   UDP-64 out %8s in %8s packets/s   RTT median %s us, p99 %s us\n' \
        "$1" "$out" "$in" "$udpOut" "$udpIn" "${rtt% *}" "${rtt#* }"
}

ip -n "$ws" addr add 10.202.0.2/24 dev fvb0
sleep 0.5
measure bare
ip -n "$ws" addr del 10.202.0.2/24 dev fvb0

ip netns exec "$ws" "$daemon" --bind fvb0 --device-dir "$dev" 2>/dev/null &
daemonPid=$!  # ip netns exec becomes the daemon
for _ in $(seq 50); do [ -S "$dev/Ferrovane" ] && break; sleep 0.1; done
ip -n "$ws" addr add 10.202.0.2/24 dev fv-fvb0
ip netns exec "$ws" "$client" "$dev/Ferrovane" fvb0 &
sleep 1
measure ferrovane

if [ -n "${FV_BENCH_PROFILE:-}" ]; then
    mkdir -p "$FV_BENCH_PROFILE"
    for way in out in; do
        flag=; [ "$way" = in ] && flag=-R
        perf record -q -g -p "$daemonPid" -o "$FV_BENCH_PROFILE/udp-$way.data" -- sleep "$seconds" &
        udp $flag >/dev/null
        wait $!
        perf report -q -i "$FV_BENCH_PROFILE/udp-$way.data" --no-children --sort sym --stdio \
            -g none --percent-limit 0.7 > "$FV_BENCH_PROFILE/udp-$way.txt" 2>/dev/null
    done
fi
