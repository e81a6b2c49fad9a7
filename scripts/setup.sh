#!/usr/bin/env bash
# Installs what the build needs (once), then configures and builds into $BUILD_DIR.
# Sourced by run.sh and test.sh; works on a fresh Debian 12 or Ubuntu machine.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev libjpeg-dev libgtest-dev libboost-dev
    fonts-arphic-uming fonts-liberation
    xvfb xauth xdotool xclip
    qt6-svg-dev scdoc desktop-file-utils appstream
    dbus at-spi2-core python3-pyatspi curl netcat-openbsd ser2net
    ${EXTRA_PACKAGES:-}
)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}" >&2
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
    # The tests run ser2net of their own; Debian's service would offer this machine's serial
    # ports to every local user.
    if [[ " ${missing[*]} " == *" ser2net "* ]] && command -v systemctl >/dev/null; then
        "${sudo[@]}" systemctl disable --now ser2net >/dev/null 2>&1 || true
    fi
}

build() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)"
}

install_missing
