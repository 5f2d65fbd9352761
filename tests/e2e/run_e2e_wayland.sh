#!/usr/bin/env bash
# The end-to-end test of the whole program (e2e_program.py) on a Wayland compositor, sway on
# its headless backend: natively, where the program chooses its platform itself as in a
# practitioner's Wayland session, or with --xwayland on the X platform through XWayland.
#
#   tests/e2e/run_e2e_wayland.sh [--xwayland] <path to the built tarrowin>
#
# Exit status: 0 pass, 1 fail, 77 skipped (the compositor cannot start on this machine).
# The screenshots of a failing run are kept in <build folder>/e2e-wayland-failure/ (or
# e2e-xwayland-failure/).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../harness/wayland_session.sh
source "$here/../harness/wayland_session.sh"

desktop=wayland
if [ "${1:-}" = --xwayland ]; then
    desktop=xwayland
    shift
fi
wayland_session_runner "e2e-$desktop" "$@" || exit $?
session=()
[ $desktop = xwayland ] && session=(--xwayland)
wayland_session_start "${session[@]}" || exit $?

python3 "$here/e2e_program.py" --desktop "$desktop" --program "$program" --work "$work" \
    --failure-shots "$shots"
status=$?
if [ $status -ne 0 ]; then
    echo "Compositor log:"
    cat "$wayland_session_dir/sway.log"
fi
exit $status
