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
source "$(dirname "$0")/bench_net.sh"
fv_bench_prerequisites
fv_bench_network fvbench fvb0 fvr0 10.202.0.1
# Round trips in microseconds: "median p99" of 1,000 pings 10 ms apart.
latency() { ip netns exec "$ws" ping -n -c 1000 -i 0.01 "$remote" |
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
