#!/usr/bin/env bash
# Installs the Debian package on a fresh minimal Debian bookworm (a debootstrap chroot) with apt,
# runs ferrovane-sys --sim as the unit's user with the unit's capabilities, drives it as a member
# of group ferrovane, then purges the package and checks that nothing of ours is left. Needs root
# and Debian's mirror; takes minutes, so it is run by hand, not by ctest.
#   tests/package/chroot-check.sh [DEB]      (default: build-package/ferrovane_*.deb)
# FV_CHROOT_CACHE (default /var/tmp/fv-pkg-cache) keeps an untouched debootstrap between runs.
set -euo pipefail

root_dir=$(cd "$(dirname "$0")/../.." && pwd)
deb=${1:-$(ls "$root_dir"/build-package/ferrovane_*.deb 2>/dev/null | head -n 1)}
session=$root_dir/build-package/fv_gui/client/ferrovane-session
cache=${FV_CHROOT_CACHE:-/var/tmp/fv-pkg-cache}
mirror=http://deb.debian.org/debian
# What the unit grants: its user and group, its capabilities.
unit_user=ferrovane-sys
unit_group=ferrovane
unit_caps=+net_admin,+net_raw,+sys_nice,+bpf
unit_cap_mask=0000008000803000  # CAP_NET_ADMIN 12, CAP_NET_RAW 13, CAP_SYS_NICE 23, CAP_BPF 39

[ "$(id -u)" -eq 0 ] || { echo "chroot-check: needs root" >&2; exit 2; }
[ -f "$deb" ] || { echo "chroot-check: no package; run scripts/package first" >&2; exit 2; }
[ -x "$session" ] || { echo "chroot-check: no $session; run scripts/package" >&2; exit 2; }

source "$(dirname "$(readlink -f "$0")")/checks.sh"

pristine=$cache/bookworm-minbase
if [ ! -d "$pristine" ]; then
    echo "== debootstrap bookworm (minbase) into $pristine"
    mkdir -p "$cache"
    rm -rf "$pristine.tmp"
    debootstrap --variant=minbase bookworm "$pristine.tmp" "$mirror" >"$cache/debootstrap.log"
    mv "$pristine.tmp" "$pristine"
fi

chroot_dir=$(mktemp -d /var/tmp/fv-chroot-XXXXXX)
daemon=
cleanup() {
    [ -n "$daemon" ] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
    umount "$chroot_dir/dev/pts" "$chroot_dir/proc" 2>/dev/null || true
    rm -rf "$chroot_dir"
}
trap cleanup EXIT
cp -a "$pristine/." "$chroot_dir/"
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
# Every installed system has one; netbase, which iptables brings, writes it where it is missing
# and leaves it at purge.
printf '127.0.0.1\tlocalhost\n' >"$chroot_dir/etc/hosts"
mount -t proc proc "$chroot_dir/proc"
mount --bind /dev/pts "$chroot_dir/dev/pts"
in_root() { chroot "$chroot_dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
# Every file and folder but the ones apt, dpkg and the check itself touch on their own, and the
# backups the account tools keep of the files they edit (/etc/shadow- and the like).
listing() {
    in_root find / -xdev \( -path /var/lib/apt -o -path /var/cache -o -path /var/log \
        -o -path /var/lib/dpkg -o -path /tmp -o -path /etc/ld.so.cache \
        -o -path '/etc/*-' \) -prune -o -print | sort
}
packages() { in_root dpkg-query -W -f='${binary:Package}\n' | wc -l; }
accounts() { grep -h "ferrovane" "$chroot_dir"/etc/{passwd,group,shadow,gshadow} || true; }

echo "== apt-get update"
in_root apt-get update -qq
listing >"$chroot_dir/tmp/before"

echo "== apt install ./$(basename "$deb")"
cp "$deb" "$chroot_dir/tmp/"
base_packages=$(packages)
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >/dev/null
echo "      apt pulled in $(($(packages) - base_packages - 1)) dependencies"
check "the package is installed" \
    test "$(in_root dpkg-query -W -f='${db:Status-Status}' ferrovane)" = installed
check "group $unit_group is a system group" \
    test "$(in_root getent group $unit_group | cut -d: -f3)" -lt 1000
check "user $unit_user: system user, group $unit_group, no login" \
    test "$(in_root getent passwd $unit_user | cut -d: -f3,4,7 | sed 's/^[0-9]*://')" = \
    "$(in_root getent group $unit_group | cut -d: -f3):/usr/sbin/nologin"
check "/var/lib/ferrovane is root:$unit_group 2775" \
    test "$(in_root stat -c '%U:%G %a' /var/lib/ferrovane)" = "root:$unit_group 2775"
check "the unit is enabled" \
    test -L "$chroot_dir/etc/systemd/system/multi-user.target.wants/ferrovane-sys.service"
check "/etc/default/ferrovane-sys is a conffile" \
    sh -c "chroot '$chroot_dir' dpkg-query -W -f='\${Conffiles}' ferrovane | grep -q /etc/default/ferrovane-sys"
# --attach falls back to iptables where the kernel cannot queue through nft.
check "the dependencies bring iptables-nft" test -x "$chroot_dir/usr/sbin/iptables-nft"
check "what was made is noted where only root writes" \
    test "$(in_root stat -c '%U:%G %a' /var/lib/ferrovane-package)" = "root:root 700" -a \
    "$(in_root stat -c '%U %F' /var/lib/ferrovane-package/made)" = "root regular file" -a \
    "$(sort "$chroot_dir/var/lib/ferrovane-package/made" | tr '\n' ' ')" = "folder group user "

echo "== ferrovane-sys --sim as $unit_user with $unit_caps"
# What systemd's RuntimeDirectory= would make.
in_root install -d -o $unit_user -g $unit_group -m 0755 /run/ferrovane
chroot "$chroot_dir" setpriv --reuid=$unit_user --regid=$unit_group --clear-groups \
    --inh-caps=-all,$unit_caps --ambient-caps=-all,$unit_caps --bounding-set=-all,$unit_caps \
    --no-new-privs /usr/sbin/ferrovane-sys --device-group $unit_group --sim \
    2>"$chroot_dir/tmp/daemon.log" &
daemon=$!
for _ in $(seq 50); do [ -S "$chroot_dir/run/ferrovane/Ferrovane" ] && break; sleep 0.1; done
check "the daemon serves /run/ferrovane/Ferrovane" test -S "$chroot_dir/run/ferrovane/Ferrovane"
check "the device is $unit_user:$unit_group 0660" \
    test "$(in_root stat -c '%U:%G %a' /run/ferrovane/Ferrovane)" = "$unit_user:$unit_group 660"
check "the daemon holds exactly the unit's capabilities" \
    grep -qx "CapEff:	$unit_cap_mask" "/proc/$daemon/status"

# A member of the group drives it; anybody else is turned away.
in_root useradd --create-home --groups $unit_group fvmember

echo "== a member's link where the note used to be"
# Stands for /etc/shadow: a file only root may read.
printf 'secret\n' >"$chroot_dir/etc/fv-standin"
chmod 0600 "$chroot_dir/etc/fv-standin"
as_member() { in_root setpriv --reuid=fvmember --regid=fvmember --init-groups "$@"; }
as_member ln -sf /etc/fv-standin /var/lib/ferrovane/.made-by-package
in_root apt-get install --reinstall -y -qq --no-install-recommends \
    "/tmp/$(basename "$deb")" >/dev/null
check "a reinstall neither changes nor reads the linked file" \
    test "$(in_root stat -c '%a' /etc/fv-standin)" = 600 -a \
    "$(cat "$chroot_dir/etc/fv-standin")" = secret
check "the link is gone" test ! -L "$chroot_dir/var/lib/ferrovane/.made-by-package"
rm -f "$chroot_dir/etc/fv-standin"
in_root useradd --create-home fvstranger
cp "$session" "$chroot_dir/tmp/ferrovane-session"
printf 'Everything:1.0.0.0-223.255.255.255\n' >"$chroot_dir/tmp/all.p2p"
drive() {  # drive USER: blocked lines of a short session
    in_root setpriv --reuid="$1" --regid="$1" --init-groups \
        sh -c "cd /home/$1 && /tmp/ferrovane-session /run/ferrovane /tmp/all.p2p 2" 2>/dev/null |
        grep -c '^blocked' || true
}
member=$(drive fvmember)
stranger=$(drive fvstranger)
echo "      member saw $member blocked packets, stranger $stranger"
check "a member of $unit_group filters through the device" test "$member" -gt 0
check "a user outside $unit_group cannot" test "$stranger" -eq 0

kill -TERM "$daemon"
status=0
wait "$daemon" || status=$?
daemon=
check "SIGTERM: exit 0 and the device removed" \
    test "$status" -eq 0 -a ! -e "$chroot_dir/run/ferrovane/Ferrovane"
sed 's/^/      daemon: /' "$chroot_dir/tmp/daemon.log"
in_root userdel --remove fvmember 2>/dev/null
in_root userdel --remove fvstranger 2>/dev/null
# systemd removes the runtime folder when the unit stops.
rm -rf "$chroot_dir/run/ferrovane"

echo "== apt purge ferrovane"
in_root apt-get purge -y -qq ferrovane >/dev/null
in_root apt-get autoremove --purge -y -qq >/dev/null
listing >"$chroot_dir/tmp/after"
check "no file or folder is left or made" diff "$chroot_dir/tmp/before" "$chroot_dir/tmp/after"
check "no user or group is left" test -z "$(accounts)"
check "nothing named ferrovane is left" \
    test -z "$(in_root find / -xdev -path /tmp -prune -o -path /var/log -prune -o \
        -path /var/lib/dpkg -prune -o -iname '*ferrovane*' -print)"

echo "== a group ferrovane made before the package outlives its purge"
in_root groupadd --system $unit_group
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$deb")" >/dev/null
# A member claims, where the note used to be, that the package made the group.
in_root useradd --no-create-home --groups $unit_group fvplanter
in_root setpriv --reuid=fvplanter --regid=fvplanter --init-groups \
    sh -c 'printf "group\nuser\nfolder\n" >/var/lib/ferrovane/.made-by-package'
in_root userdel fvplanter
in_root apt-get purge -y -qq ferrovane >/dev/null
check "group $unit_group kept, user $unit_user and /var/lib/ferrovane gone" \
    test -n "$(in_root getent group $unit_group)" -a -z "$(in_root getent passwd $unit_user)" \
    -a ! -e "$chroot_dir/var/lib/ferrovane" -a ! -e "$chroot_dir/var/lib/ferrovane-package"

if [ "$failures" -ne 0 ]; then
    echo "chroot-check: $failures check(s) failed"
    exit 1
fi
echo "chroot-check: all passed"
