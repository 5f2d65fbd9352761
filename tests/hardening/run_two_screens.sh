#!/usr/bin/env bash
# The program on one X screen of 3200x1080 split into two monitors with a window manager: A,
# 1920x1080 at the left, and B, 1280x1024 at its right (two_screens.py has the checks). B is
# unplugged on the way by xrandr --delmonitor.
#
#   tests/hardening/run_two_screens.sh <path to the built tarrowin>
#
# Exit status: 0 pass, 1 fail, 77 skipped (no X server can be started on this machine). The
# screenshots of failed checks are kept in <build folder>/two-screens-failure/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../harness/x_session.sh
source "$here/../harness/x_session.sh"
x_session_runner two-screens "$@" || exit $?

x_session_start 3200x1080 "A 1920/508x1080/286+0+0 screen" "B 1280/338x1024/270+1920+0 none" ||
    exit $?
python3 "$here/two_screens.py" --program "$program" --work "$work" --failure-shots "$shots"
