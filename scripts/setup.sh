#!/usr/bin/env bash
# Installs the Debian packages the program and its tests need (only those missing), then
# configures and builds into build/ (or $TARROWIN_BUILD_DIR). Installing needs root; with
# every package present it runs as any user, and as a user it never calls apt-get: it names
# the command to run as root instead. Every package named here exists under this name on
# Debian 12 and 13. Where Debian's package tools are not there (another distribution), the
# libraries the build needs are looked for as CMake finds them (cmake/probe/), and those not
# found are named by their own projects' names.
#
#   scripts/setup.sh [--packages-only]     --packages-only: install, build nothing
#   scripts/setup.sh --program             install, then build the program alone (no tests)
#   scripts/setup.sh --missing             lists the packages not installed, changes nothing
#   scripts/setup.sh --install PACKAGE...  as root: installs exactly these (as scripts/run.sh
#                                          hands them over through sudo, which drops the
#                                          TARROWIN_* choices below)
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
    # file(1) tells are programs; the package, its metainfo and its desktop entry are checked
    # as a distribution checks them.
    packages+=(dpkg-dev file lintian appstream desktop-file-utils)
fi

install_packages() {
    echo "Installing: $*"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
if [ "${1:-}" = --install ]; then
    shift
    [ $# -gt 0 ] || exit 0
    install_packages "$@"
    exit 0
fi

build_dir=${TARROWIN_BUILD_DIR:-build}
# A build folder left by a run as root (or by another user) cannot be written: say so, with
# the command that mends it, before CMake fails somewhere inside it.
if [ "${1:-}" != --missing ] && [ "${1:-}" != --packages-only ] && [ "$(id -u)" != 0 ]; then
    blocked=$(find "$build_dir" ! -writable -print -quit 2>/dev/null || true)
    if [ -n "$blocked" ] || { [ ! -e "$build_dir" ] && [ ! -w "$(dirname "$build_dir")" ]; }; then
        where=$(cd "$(dirname "$build_dir")" && pwd)/$(basename "$build_dir")
        echo "$where cannot be written by $(id -un) (${blocked:-its folder is not writable})." \
            "As root, give it back once:" >&2
        echo "    chown -R $(id -un): $where" >&2
        exit 1
    fi
fi

if command -v dpkg-query >/dev/null 2>&1 && command -v apt-get >/dev/null 2>&1; then
    # Installed whatever its wanted state: a package on hold reads "hold ok installed".
    missing=()
    for p in "${packages[@]}"; do
        [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] ||
            missing+=("$p")
    done
    if [ "${1:-}" = --missing ]; then
        [ ${#missing[@]} -gt 0 ] && echo "${missing[*]}"
        exit 0
    fi
    if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" != 0 ]; then
        echo "These Debian packages are missing: ${missing[*]}. As root, run:" >&2
        echo "    apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    [ ${#missing[@]} -eq 0 ] || install_packages "${missing[@]}"
else
    # Not Debian: the build's libraries may be there all the same.
    [ "${1:-}" = --missing ] && exit 0
    if ! command -v cmake >/dev/null 2>&1; then
        echo "Without Debian's package tools, install CMake (3.21 or later) and a C++20" \
            "compiler with your system's own, then run this again." >&2
        exit 1
    fi
    probe=$(mktemp -d)
    if ! cmake -S cmake/probe -B "$probe" >"$probe.log" 2>&1; then
        echo "Without Debian's package tools, install these with your system's own, then run" \
            "this again:" >&2
        sed -n 's/^-- needed: /    /p' "$probe.log" >&2
        grep -q '^-- needed: ' "$probe.log" || cat "$probe.log" >&2
        rm -rf "$probe" "$probe.log"
        exit 1
    fi
    rm -rf "$probe" "$probe.log"
fi

[ "${1:-}" = --packages-only ] && exit 0

# TARROWIN_CMAKE_ARGS comes last, so a -DCMAKE_BUILD_TYPE there has the last word.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TARROWIN_CMAKE_ARGS:-} >/dev/null
if [ "${1:-}" = --program ]; then
    cmake --build "$build_dir" -j"$(nproc)" --target tarrowin
else
    cmake --build "$build_dir" -j"$(nproc)"
fi
