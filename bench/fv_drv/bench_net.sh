# Shared by the network benchmarks (sourced): prerequisites, a private pair of namespaces joined
# by veth with an iperf3 server on the remote side, removal at exit, and the iperf3 measures.
# shellcheck shell=bash

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
daemon=$root/build/fv_drv/host/ferrovane-sys
client=$root/build/bench/fv_drv/fv_filter_on

fv_bench_prerequisites() {
    [ "$(id -u)" -eq 0 ] || { echo "needs root" >&2; exit 1; }
    local need=()
    command -v iperf3 >/dev/null || need+=(iperf3)
    command -v ping >/dev/null || need+=(iputils-ping)
    command -v python3 >/dev/null || need+=(python3)
    if [ ${#need[@]} -gt 0 ]; then apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null; fi
    [ -x "$daemon" ] && [ -x "$client" ] || { echo "build first: scripts/test" >&2; exit 1; }
}

# fv_bench_network PREFIX LOWER PEER REMOTE_ADDRESS: sets ws, rm, dev and remote.
fv_bench_network() {
    ws=$1-ws-$$ rm=$1-rm-$$ dev=$(mktemp -d) remote=$4
    trap fv_bench_cleanup EXIT
    ip netns add "$ws"
    ip netns add "$rm"
    ip link add "$2" netns "$ws" type veth peer name "$3" netns "$rm"
    ip -n "$ws" link set lo up
    ip -n "$rm" link set lo up
    ip -n "$ws" link set "$2" up
    ip -n "$rm" link set "$3" up
    ip -n "$rm" addr add "$remote/24" dev "$3"
    ip netns exec "$rm" iperf3 -s -D >/dev/null
}

fv_bench_cleanup() {
    ip netns pids "$ws" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns pids "$rm" 2>/dev/null | xargs -r kill 2>/dev/null || true
    sleep 0.5
    ip netns del "$ws" 2>/dev/null || true
    ip netns del "$rm" 2>/dev/null || true
    rm -rf "$dev"
}

# TCP Gbit/s to the remote side (-R: from it); 64-byte UDP packets a second.
tcp() { ip netns exec "$ws" iperf3 -c "$remote" -t "$seconds" -J "$@" |
        python3 -c 'import json,sys; d=json.load(sys.stdin); print("%.2f" % (d["end"]["sum_received"]["bits_per_second"]/1e9))'; }
udp() { ip netns exec "$ws" iperf3 -c "$remote" -u -l 64 -b 0 -t "$seconds" -J "$@" |
        python3 -c 'import json,sys; d=json.load(sys.stdin); s=d["end"]["sum"]; print("%d" % ((s["packets"]-s["lost_packets"])/s["seconds"]))'; }
# Each figure is the median of three runs: on a small machine the sender, the receiver and the
# forwarder share the cores, so single runs scatter.
median() { sort -n | sed -n 2p; }
