#!/usr/bin/env bash
# shellcheck disable=SC2317  # cleanup is reached through trap
# The program on one X screen of 3200x1080 split into two monitors with a window manager: A,
# 1920x1080 at the left, and B, 1280x1024 at its right (two_screens.py has the checks). B is
# unplugged on the way by xrandr --delmonitor.
#
#   tests/hardening/run_two_screens.sh <path to the built tarrowin>
#
# Exit status: 0 pass, 1 fail, 77 skipped (no X server can be started on this machine). The
# screenshots of failed checks are kept in <build folder>/two-screens-failure/.
set -uo pipefail

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 <path to the tarrowin program>" >&2
    exit 2
fi
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/x_session.sh
source "$here/x_session.sh"
for tool in xdotool wmctrl xwininfo xprop xrandr import convert python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "FAIL: $tool is not installed (scripts/setup.sh with TARROWIN_TEST_TOOLS=1)"
        exit 1
    fi
done

shots=$(dirname "$program")/two-screens-failure
rm -rf "$shots"
work=$(mktemp -d /tmp/tarrowin-two-screens.XXXXXX)
cleanup() {
    x_session_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

x_session_start 3200x1080 "A 1920/508x1080/286+0+0 screen" "B 1280/338x1024/270+1920+0 none"
started=$?
[ $started -eq 0 ] || exit $started
python3 "$here/two_screens.py" --program "$program" --work "$work" --failure-shots "$shots"
