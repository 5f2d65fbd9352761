#!/usr/bin/env bash
# Installs the Debian packages the program and its tests need (only those missing), then
# configures and builds into build/. Run as root on Debian 12 or 13 from the repository root.
# Every package named here exists under this name on both releases.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl1-mesa-dev
    libsdl2-mixer-dev libasound2-dev libpulse-dev libsndfile1-dev fonts-liberation2
)
if [ "${TARROWIN_TEST_TOOLS:-0}" = 1 ]; then
    # The end-to-end tests: a real X server with a window manager, a real sound server.
    packages+=(xvfb openbox xdotool wmctrl imagemagick x11-utils x11-xserver-utils pulseaudio pulseaudio-utils sox
               python3 clang libclang-rt-dev)
fi
if [ "${TARROWIN_TEST_TOOLS:-0}" = 1 ] || [ "${TARROWIN_PACKAGE_TOOLS:-0}" = 1 ]; then
    # The Debian package: CPack finds its dependencies with dpkg-shlibdeps, on the files that
    # file(1) tells are programs.
    packages+=(dpkg-dev file)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build_dir=${TARROWIN_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=${TARROWIN_BUILD_TYPE:-RelWithDebInfo} ${TARROWIN_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
