# Shared by the README commands: package installation and the build.
# shellcheck shell=bash

FV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Debian packages the build and the tests need.
FV_PACKAGES=(build-essential cmake ninja-build pkg-config libsqlite3-dev libgtest-dev libgmock-dev
             qt6-base-dev qt6-svg-dev libgl-dev
             libbenchmark-dev clang libclang-rt-14-dev iproute2
             libnetfilter-queue-dev libmnl-dev iptables nftables xvfb fonts-wine
             llvm libbpf-dev bpftool dbus-daemon)
# ferrovane-lists: downloads, gzip and zip.
FV_PACKAGES+=(libcurl4-openssl-dev zlib1g-dev libarchive-dev)

fv_install_packages() {
    local missing=()
    local p
    for p in "${FV_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages: ${missing[*]} (run as root to install them)" >&2
        return 1
    fi
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# fv_build DIR [cmake options...]: the project's own builds keep warnings as errors.
fv_build() {
    local dir=$1
    shift
    cmake -S "$FV_ROOT" -B "$dir" -G Ninja -DFV_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}
