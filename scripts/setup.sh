#!/usr/bin/env bash
# Sets up a Debian 12 machine for Kalvora and builds it, then either starts the operator station on the
# simulated plant ("run") or runs every test ("test"). Safe to repeat: packages already installed are
# not touched and an unchanged build is not rebuilt.
set -euo pipefail

mode=${1:-}
case "$mode" in
    run|test) ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build"

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-tools-dev qt6-svg-dev libqt6opengl6-dev libgl-dev libxkbcommon-dev
    libsqlite3-dev libbenchmark-dev qt6-serialbus-dev libzstd-dev
    libsodium-dev
    libpq-dev postgresql
    fonts-wine xvfb xauth xdotool
    mosquitto libmosquitto-dev libprotobuf-dev protobuf-compiler
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
        as_root=(sudo)
    fi
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$(nproc)"

if [ "$mode" = test ]; then
    exec ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting the station on a virtual 1280x1024 display (Xvfb)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/kalvora"
fi
exec "$build/bin/kalvora"
