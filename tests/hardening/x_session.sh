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
#   stop_pid PID                   ends one process that the script started, by its id
#   wait_for SECONDS COMMAND...    polls the command until it succeeds

x_session_xvfb_pid=""
x_session_wm_pid=""
x_session_dir=""

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
    return 0
}

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
