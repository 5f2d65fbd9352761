#!/usr/bin/env bash
# End-to-end test of the whole program: starts a private X server and a window manager,
# lets e2e_program.py start the program and drive it with real input events, then stops
# exactly what it started.
#
#   tests/e2e/run_e2e.sh <path to the built tarrowin>
#
# Exit status: 0 pass, 1 fail, 77 skipped (no X server can be started on this machine).
# The screenshots of a failing run are kept in <build folder>/e2e-failure/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../harness/x_session.sh
source "$here/../harness/x_session.sh"
# The program, if the checks left it running, is stopped by the id it left in program.pid.
x_session_runner e2e "$@" || exit $?

x_session_start 1920x1080 || exit $?

# TARROWIN_E2E_KEEP_SHOTS=1 keeps the screenshots of a passing run too, in e2e-shots/.
kept=$(dirname "$program")/e2e-shots
rm -rf "$kept"
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
