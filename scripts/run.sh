#!/usr/bin/env bash
# Builds the program and starts it, as the practitioner who runs it: in their own desktop
# session, where their sound server plays its tones. Run it as yourself, from the clone:
#
#   scripts/run.sh
#
# Debian packages that are missing are installed through sudo, after saying which and why;
# without sudo it prints the one apt-get line to run as root, and stops. The build (into
# build/, or $TARROWIN_BUILD_DIR) and the program run as the user. Run as root through sudo,
# it installs what is missing and then builds and starts the program as the user who called
# sudo, in that user's session: the program started as root would find neither the user's
# display (sudo drops WAYLAND_DISPLAY, XDG_RUNTIME_DIR and XDG_SESSION_TYPE) nor the user's
# sound server (which serves its own user only). Run as root with no one behind sudo, as on a
# build machine, it installs, builds and starts the program as root. Without Debian's package
# tools, it builds and starts the program when the libraries it needs are found, and names
# those that are not (scripts/setup.sh).
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
    # What a desktop program reads of its session besides the display: its type and its
    # desktop, by which the toolkit chooses its platform (Debian's finds the Wayland socket
    # by itself) and its platform theme (the desktop's own file dialog, fonts and colours).
    # sudo keeps neither XDG_SESSION_TYPE nor, on older releases, XDG_CURRENT_DESKTOP; the
    # user's graphical session tells them again.
    type=${XDG_SESSION_TYPE:-} desktop=${XDG_CURRENT_DESKTOP:-}
    if [ -z "$type" ] && command -v loginctl >/dev/null 2>&1; then
        graphical=$(loginctl show-user "$SUDO_USER" -p Display --value 2>/dev/null || true)
        if [ -n "$graphical" ]; then
            type=$(loginctl show-session "$graphical" -p Type --value 2>/dev/null || true)
            [ -n "$desktop" ] ||
                desktop=$(loginctl show-session "$graphical" -p Desktop --value 2>/dev/null || true)
        fi
    fi
    if [ -z "$type" ] || [ "$type" = tty ]; then
        for entry in "${session[@]}"; do
            [ "${entry%%=*}" = WAYLAND_DISPLAY ] && type=wayland
        done
    fi
    [ -z "$type" ] || session+=(XDG_SESSION_TYPE="$type")
    [ -z "$desktop" ] || session+=(XDG_CURRENT_DESKTOP="$desktop")
    [ -z "${XDG_SESSION_DESKTOP:-}" ] || session+=(XDG_SESSION_DESKTOP="$XDG_SESSION_DESKTOP")
    [ -z "${DISPLAY:-}" ] || session+=(DISPLAY="$DISPLAY")
    [ -z "${XAUTHORITY:-}" ] || session+=(XAUTHORITY="$XAUTHORITY")
    [ -S "$runtime/bus" ] && session+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus")
    echo "Building and starting Tarrowin as $SUDO_USER, in $SUDO_USER's session."
    exec runuser -u "$SUDO_USER" -- env "${session[@]}" scripts/run.sh
fi

if [ "$(id -u)" != 0 ]; then
    missing=$(scripts/setup.sh --missing)
    if [ -n "$missing" ]; then
        echo "Tarrowin needs these Debian packages to be built and to run, and they are not"
        echo "installed: $missing"
        # The list itself goes to the privileged step: sudo resets the environment, and with
        # it any TARROWIN_*_TOOLS choice that made the list.
        if command -v sudo >/dev/null 2>&1; then
            echo "Installing them with apt needs administrator rights: sudo may ask for your" \
                "password."
            # shellcheck disable=SC2086  # one word a package
            sudo scripts/setup.sh --install $missing || true
        fi
        if [ -n "$(scripts/setup.sh --missing)" ]; then
            echo "Install them as root, with this one command, then run scripts/run.sh again" \
                "as yourself:" >&2
            echo "    apt-get install --no-install-recommends $missing" >&2
            exit 1
        fi
    fi
fi
scripts/setup.sh --program
exec "$build_dir/tarrowin"
