#!/usr/bin/env bash
# Installs the Debian packages the program and its tests need (only those missing), then
# configures and builds into build/ (or $TARROWIN_BUILD_DIR). Installing needs root; with
# every package present it runs as any user. Every package named here exists under this name
# on Debian 12 and 13.
#
#   scripts/setup.sh [--packages-only]     --packages-only: install, build nothing
#   scripts/setup.sh --program             install, then build the program alone (no tests)
#   scripts/setup.sh --missing             lists the packages not installed, changes nothing
# TARROWIN_TEST_TOOLS=1 adds what the end-to-end tests need, TARROWIN_BENCH_TOOLS=1 what
# bench/run.sh needs, TARROWIN_PACKAGE_TOOLS=1 what the Debian package needs.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-wayland libgl1-mesa-dev
    libsdl2-mixer-dev libasound2-dev libpulse-dev libsndfile1-dev fonts-liberation2 libxss-dev
)
# A real X server with a window manager, a real sound server (tests/harness/).
# Both sound servers of today's desktops: the PulseAudio daemon, and PipeWire with WirePlumber
# and its PulseAudio service (on a session bus of their own). They install side by side. The
# stand-in for the desktop's screen services on a bus of its own (python3-dbus, python3-gi).
servers=(xvfb openbox xdotool wmctrl x11-utils x11-xserver-utils pulseaudio pulseaudio-utils
    pipewire pipewire-pulse wireplumber dbus python3 python3-dbus python3-gi)
if [ "${TARROWIN_TEST_TOOLS:-0}" = 1 ]; then
    # The end-to-end tests: screenshots, sound files, the sanitizer builds; a Wayland
    # compositor with XWayland, its screenshots and keys; git, with which the run as an
    # ordinary user copies the clone's files.
    packages+=("${servers[@]}" imagemagick sox clang libclang-rt-dev
        sway grim wtype xwayland git)
fi
if [ "${TARROWIN_BENCH_TOOLS:-0}" = 1 ]; then
    # The bench's start-up watch talks to the X server itself (xcb).
    packages+=("${servers[@]}" libxcb1-dev)
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
if [ "${1:-}" = --missing ]; then
    [ ${#missing[@]} -gt 0 ] && echo "${missing[*]}"
    exit 0
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ "${1:-}" = --packages-only ] && exit 0

build_dir=${TARROWIN_BUILD_DIR:-build}
# TARROWIN_CMAKE_ARGS comes last, so a -DCMAKE_BUILD_TYPE there has the last word.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TARROWIN_CMAKE_ARGS:-} >/dev/null
if [ "${1:-}" = --program ]; then
    cmake --build "$build_dir" -j"$(nproc)" --target tarrowin
else
    cmake --build "$build_dir" -j"$(nproc)"
fi
