#!/usr/bin/env bash
# Builds the program and starts it, as the practitioner who runs it: in their own desktop
# session, where their sound server plays its tones. Run it as yourself, from the clone:
#
#   scripts/run.sh
#
# Debian packages that are missing are installed through sudo, after saying which and why;
# the build (into build/, or $TARROWIN_BUILD_DIR) and the program run as the user. Run as root
# through sudo, it installs what is missing and then builds and starts the program as the
# user who called sudo, in that user's session: the program started as root would find
# neither the user's display (sudo drops WAYLAND_DISPLAY and XDG_RUNTIME_DIR) nor the user's
# sound server (which serves its own user only). Run as root with no one behind sudo, as on a
# build machine, it installs, builds and starts the program as root.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TARROWIN_BUILD_DIR:-build}

# As root for a user behind sudo: the packages now, the rest as that user.
if [ "$(id -u)" = 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    scripts/setup.sh --packages-only
    uid=$(id -u "$SUDO_USER")
    if ! runuser -u "$SUDO_USER" -- test -w . ||
        { [ -e "$build_dir" ] && ! runuser -u "$SUDO_USER" -- test -w "$build_dir"; }; then
        echo "The packages are installed. $SUDO_USER cannot write to $(pwd) or its" \
            "$build_dir/, so the program cannot be built as $SUDO_USER here. Give the" \
            "clone to $SUDO_USER (sudo chown -R $SUDO_USER $(pwd)), or clone it again as" \
            "$SUDO_USER, then run scripts/run.sh without sudo." >&2
        exit 1
    fi
    runtime=${XDG_RUNTIME_DIR:-/run/user/$uid}
    [ "$(stat -c %u "$runtime" 2>/dev/null)" = "$uid" ] || runtime=/run/user/$uid
    # sudo gives root's HOME: the user's own settings, caches and build go in theirs.
    session=(XDG_RUNTIME_DIR="$runtime" HOME="$(getent passwd "$SUDO_USER" | cut -d: -f6)"
        USER="$SUDO_USER" LOGNAME="$SUDO_USER")
    if [ -z "${WAYLAND_DISPLAY:-}" ] && [ -S "$runtime/wayland-0" ]; then
        session+=(WAYLAND_DISPLAY=wayland-0)
    elif [ -n "${WAYLAND_DISPLAY:-}" ]; then
        session+=(WAYLAND_DISPLAY="$WAYLAND_DISPLAY")
    fi
    [ -S "$runtime/bus" ] && session+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus")
    echo "Building and starting Tarrowin as $SUDO_USER, in $SUDO_USER's session."
    exec runuser -u "$SUDO_USER" -- env "${session[@]}" scripts/run.sh
fi

if [ "$(id -u)" != 0 ]; then
    missing=$(scripts/setup.sh --missing)
    if [ -n "$missing" ]; then
        echo "Tarrowin needs these Debian packages to be built and to run, and they are not"
        echo "installed: $missing"
        if ! command -v sudo >/dev/null 2>&1; then
            echo "Install them as root (apt-get install $missing), or run this script as" \
                "root once (su -c scripts/run.sh), then run it again as yourself." >&2
            exit 1
        fi
        echo "Installing them with apt needs administrator rights: sudo may ask for your" \
            "password."
        sudo scripts/setup.sh --packages-only
    fi
fi
scripts/setup.sh --program
exec "$build_dir/tarrowin"
