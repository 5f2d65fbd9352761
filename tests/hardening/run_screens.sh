#!/usr/bin/env bash
# The program on large and scaled screens: under an X server of 3840x2160 pixels, and under
# one of 1920x1080 with the toolkit's scale factor 2 (QT_SCALE_FACTOR), each with a window
# manager. From the title to a running stimulation by key presses; the face must move on its
# track and stay on the screen, follow the window when the window manager makes it smaller,
# and the program must end with status 0 when closed (screens.py has the checks).
#
#   tests/hardening/run_screens.sh <path to the built tarrowin>
#
# Exit status: 0 pass, 1 fail, 77 skipped (no X server can be started on this machine). The
# screenshots of failed checks are kept in <build folder>/screens-failure/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../harness/x_session.sh
source "$here/../harness/x_session.sh"
x_session_runner screens "$@" || exit $?

status=0
for setup in "3840x2160 1 large-screen" "1920x1080 2 scale-2"; do
    read -r size scale label <<<"$setup"
    x_session_start "$size" || exit $?
    python3 "$here/screens.py" --program "$program" --label "$label" --scale "$scale" \
        --work "$work" --failure-shots "$shots" || status=1
    x_session_stop
done
exit $status
