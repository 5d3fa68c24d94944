#!/usr/bin/env bash
# Boots the installed package under a real systemd and watches the service as systemd runs it:
# a Debian bookworm root (debootstrap) with the package installed by apt, booted with
# systemd-nspawn in a network namespace of this script's, where veth pairs lead to a peer
# namespace for traffic. Checks that the network's units start only once the rules are in, that
# the service filters, that a start that fails is reported as failed, that a late interface is
# filtered once it appears, that a bad command line is not restarted, that --attach runs with
# legacy iptables chosen, and that a --bind interface's settings survive a killed daemon. Needs root, debootstrap and systemd-nspawn;
# takes minutes, so it is run by hand (scripts/package --check), not by ctest.
#   tests/package/boot-check.sh [DEB]      (default: build-package/ferrovane_*.deb)
# FV_BOOT_CACHE (default /var/cache/ferrovane-boot) keeps the untouched root and apt's
# downloads between runs.
set -euo pipefail

root_dir=$(cd "$(dirname "$0")/../.." && pwd)
deb=${1:-$(find "$root_dir/build-package" -maxdepth 1 -name 'ferrovane_*.deb' 2>/dev/null | head -n 1)}
session=$root_dir/build-package/fv_gui/client/ferrovane-session
cache=${FV_BOOT_CACHE:-/var/cache/ferrovane-boot}
mirror=http://deb.debian.org/debian
unit=ferrovane-sys.service
# Namespaces of this check: the container's network and the peer's. Addresses are private.
ns_ct=fvboot-ct
ns_peer=fvboot-peer
ct_address=10.203.0.2
peer_address=10.203.0.1
# How long to wait for something the container does before calling it a failure: a fail-safe,
# every wait below ends as soon as its condition holds.
patience=60

[ "$(id -u)" -eq 0 ] || { echo "boot-check: needs root" >&2; exit 2; }
[ -f "$deb" ] || { echo "boot-check: no package; run scripts/package first" >&2; exit 2; }
[ -x "$session" ] || { echo "boot-check: no $session; run scripts/package" >&2; exit 2; }
for tool in debootstrap systemd-nspawn; do
    command -v $tool >/dev/null ||
        { echo "boot-check: needs $tool (apt-get install --no-install-recommends debootstrap systemd-container)" >&2; exit 2; }
done

source "$(dirname "$(readlink -f "$0")")/checks.sh"
# until_true COMMAND...: true as soon as COMMAND is, false after $patience seconds.
until_true() {
    local end=$((SECONDS + patience))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

pristine=$cache/bookworm-systemd
if [ ! -d "$pristine" ]; then
    echo "== debootstrap bookworm (minbase, systemd) into $pristine"
    mkdir -p "$cache"
    rm -rf "$pristine.tmp"
    debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,iproute2,iputils-ping \
        bookworm "$pristine.tmp" "$mirror" >"$cache/debootstrap.log"
    mv "$pristine.tmp" "$pristine"
fi

ct=$(mktemp -d /var/tmp/fv-boot-XXXXXX)
nspawn=
cleanup() {
    if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
        kill -TERM "$nspawn" 2>/dev/null || true
        wait "$nspawn" 2>/dev/null || true
    fi
    umount "$ct/dev/pts" "$ct/proc" 2>/dev/null || true
    ip netns del $ns_ct 2>/dev/null || true
    ip netns del $ns_peer 2>/dev/null || true
    rm -rf "$ct"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
cp -a "$pristine/." "$ct/"

echo "== apt install ./$(basename "$deb")"
in_root() { chroot "$ct" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
cp /etc/resolv.conf "$ct/etc/resolv.conf"
mount -t proc proc "$ct/proc"
mount --bind /dev/pts "$ct/dev/pts"
mkdir -p "$cache/archives"
cp "$cache/archives/"*.deb "$ct/var/cache/apt/archives/" 2>/dev/null || true
cp "$deb" "$ct/tmp/"
in_root apt-get update -qq
# Without recommends: what the package depends on must be enough, also in a root made with the
# packet filter tools included.
in_root apt-get purge -y -qq nftables iptables >"$cache/apt.log" 2>&1 || true
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" \
    >"$cache/apt.log" 2>&1 || { tail "$cache/apt.log"; exit 1; }
cp "$ct/var/cache/apt/archives/"*.deb "$cache/archives/" 2>/dev/null || true
umount "$ct/dev/pts" "$ct/proc"
check "the dependencies bring iptables-nft" test -x "$ct/usr/sbin/iptables-nft"

in_root useradd --create-home --groups ferrovane fvmember
cp "$session" "$ct/usr/local/bin/ferrovane-session"
printf 'Peer:%s-%s\n' $peer_address $peer_address >"$ct/home/fvmember/peer.p2p"
# What Debian's udev does on a real machine: the daemon's user opens the TAP clone device.
mkdir -p "$ct/etc/tmpfiles.d"
echo 'z /dev/net/tun 0666 root root -' >"$ct/etc/tmpfiles.d/fv-tun.conf"
# Stands for the network's own units: records what it finds when systemd starts it.
cat >"$ct/etc/systemd/system/fv-probe.service" <<'EOF'
[Unit]
After=network-pre.target
[Service]
Type=oneshot
ExecStart=/bin/sh -c '{ iptables-nft -t mangle -S; nft list ruleset; test -S /run/ferrovane/Ferrovane && echo socket; } >/run/fv-probe 2>/dev/null'
[Install]
WantedBy=multi-user.target
EOF
ln -s /etc/systemd/system/fv-probe.service "$ct/etc/systemd/system/multi-user.target.wants/"
set_args() { echo "FERROVANE_SYS_ARGS=\"$1\"" >"$ct/etc/default/ferrovane-sys"; }
set_args "--attach fvb0"

echo "== boot"
ip netns add $ns_ct
ip netns add $ns_peer
ip -n $ns_ct link add fvb0 type veth peer name fvp0 netns $ns_peer
ip -n $ns_peer link set lo up
ip -n $ns_peer link set fvp0 up
ip -n $ns_peer addr add $peer_address/24 dev fvp0
# A network of its own is all the container may administer: CAP_NET_ADMIN, which nspawn grants
# only with a network it makes itself.
systemd-nspawn -D "$ct" --boot --keep-unit --register=no --quiet \
    --network-namespace-path=/run/netns/$ns_ct --capability=CAP_NET_ADMIN \
    >"$cache/boot.log" 2>&1 &
nspawn=$!
# The container's PID 1, once nspawn has started systemd in it.
container_init() {
    local pid
    pid=$(pgrep -P "$nspawn" | head -n 1)
    [ -n "$pid" ] && [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = systemd ] && echo "$pid"
}
until_true container_init >/dev/null
init=$(container_init)
in_ct() { nsenter -t "$init" -a "$@"; }
booted() { in_ct systemctl is-system-running 2>/dev/null | grep -qxE 'running|degraded'; }
until_true booted || true
state() { in_ct systemctl show -P ActiveState $unit; }
active() { [ "$(state)" = active ]; }
prop() { in_ct systemctl show -P "$1" $unit; }

check "at boot the service is active" test "$(state)" = active
check "units after network-pre.target found the rules and the device in place" \
    sh -c "nsenter -t $init -a cat /run/fv-probe | grep -q fvb0 &&
           nsenter -t $init -a cat /run/fv-probe | grep -qx socket"
echo "      status: $(prop StatusText)"
check "the status line names the interface" sh -c "echo '$(prop StatusText)' | grep -q 'fvb0 (attached)'"

echo "== traffic through the attached interface"
in_ct ip link set fvb0 up
in_ct ip addr add $ct_address/24 dev fvb0
ping_peer() { in_ct ping -c 1 -W 1 $peer_address >/dev/null 2>&1; }
check "the peer answers while nothing is listed" until_true ping_peer
in_ct setpriv --reuid=fvmember --regid=fvmember --init-groups sh -c \
    'cd /home/fvmember && /usr/local/bin/ferrovane-session /run/ferrovane peer.p2p 15' \
    >"$ct/tmp/session.out" 2>&1 &
session_pid=$!
listed() { grep -q '^blocked' "$ct/tmp/session.out"; }
# A ping a second while the session filters: the first blocked record shows the list is in.
until_true sh -c "nsenter -t $init -a ping -c 1 -W 1 $peer_address >/dev/null 2>&1; grep -q '^blocked' '$ct/tmp/session.out'" || true
check "a listed peer is blocked by the packaged service" listed
check "and gets no answer while it is listed" sh -c "! nsenter -t $init -a ping -c 1 -W 1 $peer_address >/dev/null 2>&1"
wait $session_pid || true

in_ct systemctl stop $unit
check "a stop removes every rule" sh -c "! nsenter -t $init -a iptables-nft -t mangle -S | grep -q ferrovane"

echo "== a start that fails"
set_args "--attach fvlate0"
status=0
in_ct systemctl restart $unit 2>/dev/null || status=$?
check "systemctl reports the missing interface as a failure" test "$status" -ne 0
echo "      status: $(prop StatusText)"
# Longer than systemd's own pacing needs to spend every restart.
sleep 8
check "its restarts are paced: still trying after 8 s" test "$(state)" != failed
ip -n $ns_ct link add fvlate0 type veth peer name fvlp0 netns $ns_peer
check "the late interface is filtered once it appears" until_true active
check "with its rules" sh -c "nsenter -t $init -a iptables-nft -t mangle -S | grep -q -- '-i fvlate0'"
in_ct systemctl stop $unit

echo "== --attach where the system's iptables is the legacy variant"
# Legacy iptables wants a lock in /run that the daemon's user may not make.
in_ct update-alternatives --quiet --set iptables /usr/sbin/iptables-legacy
set_args "--attach fvb0"
status=0
in_ct systemctl restart $unit 2>/dev/null || status=$?
check "--attach starts with legacy iptables chosen" test "$status" -eq 0 -a "$(state)" = active
echo "      status: $(prop StatusText)"
in_ct systemctl stop $unit
check "and its stop leaves no rule in either iptables" sh -c "! { nsenter -t $init -a iptables-nft -t mangle -S;
    nsenter -t $init -a iptables-legacy -t mangle -S; } 2>/dev/null | grep -q ferrovane"
in_ct update-alternatives --quiet --set iptables /usr/sbin/iptables-nft

set_args " "
status=0
in_ct systemctl restart $unit 2>/dev/null || status=$?
check "blank arguments: a failed start, exit 2, not restarted" \
    test "$status" -ne 0 -a "$(prop ExecMainStatus)" = 2 -a "$(state)" = failed
in_ct systemctl reset-failed $unit

echo "== --bind: a killed daemon leaves the interface as it was"
ip -n $ns_ct link add fvbind0 type veth peer name fvbp0 netns $ns_peer
settings() {
    local i
    for i in ipv6/conf/fvbind0/disable_ipv6 ipv4/conf/fvbind0/arp_ignore ipv4/conf/fvbind0/rp_filter; do
        printf '%s=%s ' $i "$(in_ct cat /proc/sys/net/$i)"
    done
}
before=$(settings)
set_args "--bind fvbind0"
in_ct systemctl restart $unit
check "--bind: active with fv-fvbind0 in place" \
    sh -c "test '$(state)' = active && nsenter -t $init -a ip link show fv-fvbind0 >/dev/null"
restarts=$(prop NRestarts)
in_ct systemctl kill --signal=KILL --kill-who=main $unit
restarted() { [ "$(prop NRestarts)" -gt "$restarts" ] && [ "$(state)" = active ]; }
check "a SIGKILLed daemon is started again" until_true restarted
in_ct systemctl stop $unit
after=$(settings)
echo "      before: $before"
echo "      after:  $after"
check "after SIGKILL, restart and stop the interface's settings are as before" test "$before" = "$after"

in_ct systemctl poweroff >/dev/null 2>&1 || true
wait "$nspawn" 2>/dev/null || true
nspawn=

if [ "$failures" -ne 0 ]; then
    echo "boot-check: $failures check(s) failed"
    exit 1
fi
echo "boot-check: all passed"
