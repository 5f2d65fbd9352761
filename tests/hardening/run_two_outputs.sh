#!/usr/bin/env bash
# The program on a Wayland compositor (sway, headless) with two outputs: A, 1920x1080 at the
# left, and B, 1280x1024 at its right (two_outputs.py has the checks); natively, on the
# platform the program chooses in a Wayland session, or with --xwayland through XWayland.
#
#   tests/hardening/run_two_outputs.sh [--xwayland] <path to the built tarrowin>
#
# Exit status: 0 pass, 1 fail, 77 skipped (the compositor cannot start on this machine). The
# screenshots of failed checks are kept in <build folder>/two-outputs-failure/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../harness/wayland_session.sh
source "$here/../harness/wayland_session.sh"

mode=()
if [ "${1:-}" = --xwayland ]; then
    mode=(--xwayland)
    shift
fi
wayland_session_runner two-outputs "$@" || exit $?
# XWayland runs in both: natively the program must choose Wayland by itself, as in a session
# that a compositor started from the console, where X is at hand too and the login manager
# names the session "tty", not "wayland".
wayland_session_start --xwayland || exit $?
[ ${#mode[@]} = 0 ] && export XDG_SESSION_TYPE=tty
if ! wayland_session_add_output HEADLESS-2 1280x1024 1920,0; then
    echo "FAIL: the second output did not come"
    exit 1
fi
python3 "$here/two_outputs.py" "${mode[@]}" --program "$program" \
    --work "$work" --failure-shots "$shots"
