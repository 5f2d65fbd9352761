#!/usr/bin/env bash
# shellcheck disable=SC2317  # cleanup is reached through trap
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

# shellcheck source=SCRIPTDIR/../hardening/x_session.sh
source "$here/../hardening/x_session.sh"
missing=()
for tool in xdotool wmctrl xwininfo xprop import convert python3; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "FAIL: missing tools: ${missing[*]}" \
        "(scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs them)"
    exit 1
fi

work=$(mktemp -d /tmp/tarrowin-e2e.XXXXXX)
cleanup() {
    # The program, if the checks left it running, then the window manager and the server.
    if [ -s "$work/program.pid" ]; then
        stop_pid "$(cat "$work/program.pid")"
    fi
    x_session_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

x_session_start 1920x1080
started=$?
[ $started -eq 0 ] || exit $started

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
    cat "$x_session_dir/openbox.log"
fi
exit $status
