#!/usr/bin/env bash
# shellcheck disable=SC2317  # cleanup and ours are reached through trap and wait_for
# End-to-end test of the whole program: starts a private X server and a window manager,
# lets e2e_program.py start the program and drive it with real input events, then stops
# exactly what it started.
#
#   tests/e2e/run_e2e.sh <path to the built tarrowin>
#
# Exit status: 0 pass, 1 fail, 77 skipped (no X server can be started on this machine).
# The screenshots of a failing run are kept in <build folder>/e2e-failure/.
set -uo pipefail

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 <path to the tarrowin program>" >&2
    exit 2
fi
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
build_dir=$(dirname "$program")
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIP: Xvfb is not installed, no X server can be started" \
        "(scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs it)"
    exit 77
fi
missing=()
for tool in openbox xdotool wmctrl xdpyinfo xwininfo xprop import convert python3; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "FAIL: missing tools: ${missing[*]}" \
        "(scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs them)"
    exit 1
fi

work=$(mktemp -d /tmp/tarrowin-e2e.XXXXXX)
xvfb_pid=""
wm_pid=""

stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
}

cleanup() {
    # The program, if the checks left it running, then the window manager, then the server.
    if [ -s "$work/program.pid" ]; then
        stop_pid "$(cat "$work/program.pid")"
    fi
    stop_pid "$wm_pid"
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# Polls a command until it succeeds, for up to $1 seconds.
wait_for() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    for _ in $(seq "$tries"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# Whether display $1 is served by our Xvfb: its lock file names our server's PID (another
# server may have taken the same number between our look and our start).
ours() {
    [ "$(tr -d ' \n' <"/tmp/.X$1-lock" 2>/dev/null)" = "$xvfb_pid" ] &&
        DISPLAY=":$1" xdpyinfo >/dev/null 2>&1
}

# A private X server on the first free display from :71 on; if another server takes the
# number first, ours gives up and the next number is tried.
display=""
for n in $(seq 71 119); do
    [ -e "/tmp/.X$n-lock" ] && continue
    [ -e "/tmp/.X11-unix/X$n" ] && continue
    # -noreset: without it the server resets when its last client leaves (our probe), and a
    # client connecting during that reset (the window manager) is turned away.
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    if wait_for 10 ours "$n"; then
        display=":$n"
        break
    fi
    stop_pid "$xvfb_pid"
    xvfb_pid=""
done
if [ -z "$display" ]; then
    echo "SKIP: no X server could be started (Xvfb on :71 to :119):"
    cat "$work/xvfb.log" 2>/dev/null
    exit 77
fi
export DISPLAY=$display
echo "X server: Xvfb $DISPLAY (pid $xvfb_pid), 1920x1080"

# A desktop session of its own: the window manager's and the program's settings, caches
# and runtime files stay inside the work folder, whatever the account has elsewhere.
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
if ! wait_for 10 wmctrl -m || ! kill -0 "$wm_pid" 2>/dev/null; then
    echo "FAIL: the window manager did not take the screen"
    cat "$work/openbox.log" "$work/xvfb.log"
    exit 1
fi
echo "Window manager: $(wmctrl -m | sed -n 's/^Name: //p') (pid $wm_pid)"

# TARROWIN_E2E_KEEP_SHOTS=1 keeps the screenshots of a passing run too, in e2e-shots/.
shots=$build_dir/e2e-failure
kept=$build_dir/e2e-shots
rm -rf "$shots" "$kept"
keep=()
[ "${TARROWIN_E2E_KEEP_SHOTS:-0}" = 1 ] && keep=(--keep-shots "$kept")
python3 "$here/e2e_program.py" --program "$program" --work "$work" --failure-shots "$shots" \
    "${keep[@]}"
status=$?
if [ $status -ne 0 ]; then
    echo "Window manager log:"
    cat "$work/openbox.log"
fi
exit $status
