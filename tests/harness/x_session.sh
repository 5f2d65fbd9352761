# shellcheck shell=bash
# A private X server and window manager for the scripts that run the whole program on a
# screen of their own. Sourced; the caller sets a trap that calls x_session_stop.
#
#   x_session_start WIDTHxHEIGHT [MONITOR...]
#                                  starts Xvfb on the first free display from :121 on and
#                                  openbox on it; exports DISPLAY; returns 77 when no X server
#                                  can be started here. Each MONITOR, in the words of
#                                  xrandr --setmonitor ("B 1280/338x1024/270+1920+0 none"),
#                                  splits the screen into monitors before the window manager
#                                  starts: the toolkit then sees each monitor as a screen
#   x_session_stop                 stops exactly the server and window manager started
# The session's folder ($x_session_dir) holds the logs of both (xvfb.log, openbox.log).
# processes.sh, sourced here, gives stop_pid, wait_for and need_tools.

# shellcheck source=SCRIPTDIR/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"

x_session_xvfb_pid=""
x_session_wm_pid=""
x_session_dir=""

# Whether display $1 is served by our Xvfb: its lock file names our server's PID.
x_session_ours() {
    [ "$(tr -d ' \n' <"/tmp/.X$1-lock" 2>/dev/null)" = "$x_session_xvfb_pid" ] &&
        DISPLAY=":$1" xdpyinfo >/dev/null 2>&1
}

x_session_start() {
    local size=$1
    shift
    local tool tools=(Xvfb openbox xdpyinfo)
    [ $# -gt 0 ] && tools+=(xrandr)
    for tool in "${tools[@]}"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed (scripts/setup.sh with TARROWIN_TEST_TOOLS=1)"
            return 77
        fi
    done
    x_session_dir=$(mktemp -d /tmp/tarrowin-x.XXXXXX)
    local n
    for n in $(seq 121 169); do
        [ -e "/tmp/.X$n-lock" ] && continue
        [ -e "/tmp/.X11-unix/X$n" ] && continue
        # -noreset: the server stays up when its last client (our probe) leaves.
        Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp -noreset >"$x_session_dir/xvfb.log" 2>&1 &
        x_session_xvfb_pid=$!
        if wait_for 10 x_session_ours "$n"; then
            export DISPLAY=":$n"
            break
        fi
        stop_pid "$x_session_xvfb_pid"
        x_session_xvfb_pid=""
    done
    if [ -z "$x_session_xvfb_pid" ]; then
        echo "SKIP: no X server could be started (Xvfb on :121 to :169)"
        cat "$x_session_dir/xvfb.log" 2>/dev/null
        return 77
    fi
    local monitor
    for monitor in "$@"; do
        # shellcheck disable=SC2086  # the words of one monitor's description
        if ! xrandr --setmonitor $monitor >>"$x_session_dir/xvfb.log" 2>&1; then
            echo "FAIL: xrandr --setmonitor $monitor"
            cat "$x_session_dir/xvfb.log"
            return 1
        fi
    done
    # The window manager's and the program's settings and caches stay in the session's folder.
    export XDG_CONFIG_HOME=$x_session_dir/config XDG_CACHE_HOME=$x_session_dir/cache
    export XDG_DATA_HOME=$x_session_dir/data XDG_RUNTIME_DIR=$x_session_dir/runtime
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
    openbox --sm-disable >"$x_session_dir/openbox.log" 2>&1 &
    x_session_wm_pid=$!
    if ! wait_for 10 wmctrl -m || ! kill -0 "$x_session_wm_pid" 2>/dev/null; then
        echo "FAIL: the window manager did not take the screen"
        cat "$x_session_dir/openbox.log"
        return 1
    fi
    echo "X server: Xvfb $DISPLAY (pid $x_session_xvfb_pid), $size${1:+, monitors: $*};" \
        "openbox (pid $x_session_wm_pid)"
}

x_session_stop() {
    stop_pid "$x_session_wm_pid"
    x_session_wm_pid=""
    stop_pid "$x_session_xvfb_pid"
    x_session_xvfb_pid=""
    [ -n "$x_session_dir" ] && rm -rf "$x_session_dir"
    x_session_dir=""
}

# x_session_runner NAME ARG...: for a runner script whose one argument (ARG) is the built
# program: $program, its absolute path; the tools of desktop.py checked; then
# x_session_scratch NAME. Returns 2 on bad use, 1 when a tool is missing.
x_session_runner() {
    local name=$1
    shift
    program=$(program_argument tarrowin "$@") || return 2
    need_tools xdotool wmctrl xwininfo xprop xrandr import convert python3 || return 1
    x_session_scratch "$name"
}

# x_session_scratch NAME: the work folder of a run ($work, /tmp/tarrowin-NAME.XXXXXX) and,
# for a runner given the program ($program), the folder its failures' screenshots go to
# ($shots, NAME-failure beside the program, emptied now). On exit (also by TERM or INT) the
# program if the run left it going (by $program_pid, or the id in $work/program.pid), then
# the window manager and the X server are stopped and the work folder removed.
x_session_scratch() {
    work=$(mktemp -d "/tmp/tarrowin-$1.XXXXXX")
    if [ -n "${program:-}" ]; then
        shots=$(dirname "$program")/$1-failure
        rm -rf "$shots"
    fi
    trap x_session_cleanup EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT
}

# shellcheck disable=SC2317  # reached through the trap
x_session_cleanup() {
    stop_pid "${program_pid:-}"
    if [ -s "$work/program.pid" ]; then
        stop_pid "$(cat "$work/program.pid")"
    fi
    x_session_stop
    rm -rf "$work"
}
