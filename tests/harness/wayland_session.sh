# shellcheck shell=bash
# A private Wayland compositor for the scripts that run the whole program on a desktop of the
# kind most practitioners now have: sway on its headless backend, drawing in memory, with
# XWayland for the toolkit's X platform. Sourced; the caller sets a trap that calls
# wayland_session_stop.
#
#   wayland_session_start [--xwayland]
#                                  starts sway with one 1920x1080 output (HEADLESS-1 at 0,0)
#                                  and a virtual keyboard; exports WAYLAND_DISPLAY (the
#                                  socket's absolute path), SWAYSOCK and XDG_SESSION_TYPE, and
#                                  with --xwayland DISPLAY (XWayland, started at once). Returns
#                                  77 when the compositor cannot start on this machine, 1
#                                  when a tool is missing
#   wayland_session_add_output NAME WIDTHxHEIGHT X,Y
#                                  plugs in another output, which sway names HEADLESS-2, 3...
#   wayland_session_stop           stops exactly the compositor and keyboard started
# The session's folder ($wayland_session_dir) holds the compositor's log (sway.log).
#
# sway 1.7 (Debian 12) will not run as root; later ones do. Run as root, the compositor runs
# as an ordinary user ($TARROWIN_WAYLAND_USER, nobody unless set) with a runtime folder of its
# own; root's clients reach its socket by the absolute path, and XWayland lets root in.
# The keyboard: the headless seat has no input devices, and a virtual keyboard that comes and
# goes with each typed key loses keys, so one stays for the whole session (wtype holding a
# sleep). There is no pointer: controls are reached by keys.

# shellcheck source=SCRIPTDIR/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"

wayland_session_dir=""
wayland_session_pid=""
wayland_session_runner_pid=""
wayland_session_keyboard_pid=""

# The compositor's runtime folder and the user it runs as.
wayland_session_user() {
    if [ "$(id -u)" = 0 ]; then
        echo "${TARROWIN_WAYLAND_USER:-nobody}"
    else
        id -un
    fi
}

# wayland_session_socket FOLDER: the compositor's Wayland socket in its runtime folder.
wayland_session_socket() {
    local socket
    for socket in "$1"/wayland-[0-9]; do
        [ -S "$socket" ] && echo "$socket" && return 0
    done
    return 1
}

wayland_session_ipc() {
    local socket
    for socket in "$1"/sway-ipc.*.sock; do
        [ -S "$socket" ] && echo "$socket" && return 0
    done
    return 1
}

wayland_session_start() {
    local xwayland=0
    [ "${1:-}" = --xwayland ] && xwayland=1
    local tools=(sway swaymsg grim wtype)
    [ $xwayland = 1 ] && tools+=(Xwayland xhost xdpyinfo)
    need_tools "${tools[@]}" || return 1
    wayland_session_dir=$(mktemp -d /tmp/tarrowin-wl.XXXXXX)
    chmod 755 "$wayland_session_dir"
    local user runtime=$wayland_session_dir/compositor conf=$wayland_session_dir/sway.conf
    user=$(wayland_session_user)
    mkdir -p "$runtime/home"
    chmod 700 "$runtime"
    [ "$(id -u)" = 0 ] && chown -R "$user" "$runtime"
    # No borders: the program's windows fill their area as they would maximized on a desktop
    # whose compositor draws no frame; sway tiles the title and stimulation windows, and the
    # fixed-size settings window floats over them.
    local xmode=disable
    [ $xwayland = 1 ] && xmode=force
    cat >"$conf" <<EOF
output HEADLESS-1 resolution 1920x1080 position 0 0
xwayland $xmode
default_border none
default_floating_border none
focus_follows_mouse no
exec echo \$DISPLAY >$runtime/display
EOF
    # shellcheck disable=SC2016  # the inner shell expands them
    local command=(env -i "PATH=$PATH" "HOME=$runtime/home" "XDG_RUNTIME_DIR=$runtime"
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
        sh -c 'echo $$ >"$0/sway.pid"; exec sway -c "$1"' "$runtime" "$conf")
    if [ "$(id -u)" = 0 ]; then
        runuser -u "$user" -- "${command[@]}" >"$wayland_session_dir/sway.log" 2>&1 &
    else
        "${command[@]}" >"$wayland_session_dir/sway.log" 2>&1 &
    fi
    wayland_session_runner_pid=$!
    local ipc=""
    if wait_for 15 wayland_session_ipc "$runtime"; then
        ipc=$(wayland_session_ipc "$runtime")
        wayland_session_pid=$(cat "$runtime/sway.pid")
    fi
    if [ -z "$ipc" ] || ! wait_for 10 env SWAYSOCK="$ipc" swaymsg -t get_version ||
        ! wayland_session_socket "$runtime" >/dev/null; then
        echo "SKIP: the compositor (sway, headless) could not start here"
        cat "$wayland_session_dir/sway.log"
        return 77
    fi
    export SWAYSOCK=$ipc
    WAYLAND_DISPLAY=$(wayland_session_socket "$runtime")
    export WAYLAND_DISPLAY XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway
    unset DISPLAY
    # The clients' settings, caches and runtime folder stay in the session's folder.
    export XDG_CONFIG_HOME=$wayland_session_dir/config XDG_CACHE_HOME=$wayland_session_dir/cache
    export XDG_DATA_HOME=$wayland_session_dir/data XDG_RUNTIME_DIR=$wayland_session_dir/runtime
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS
    if [ $xwayland = 1 ] && ! wayland_session_x "$runtime"; then
        echo "FAIL: XWayland did not answer"
        cat "$wayland_session_dir/sway.log"
        return 1
    fi
    wtype -s 3600000 -k Shift_L >"$wayland_session_dir/keyboard.log" 2>&1 &
    wayland_session_keyboard_pid=$!
    if ! wait_for 10 wayland_session_has_keyboard; then
        echo "FAIL: the virtual keyboard did not join the seat"
        cat "$wayland_session_dir/keyboard.log"
        return 1
    fi
    echo "Wayland compositor: $(sway --version), headless (pid" \
        "$wayland_session_pid, user $user), $WAYLAND_DISPLAY${DISPLAY:+, XWayland $DISPLAY}"
}

wayland_session_has_keyboard() {
    swaymsg -t get_inputs | grep -q '"type": "keyboard"'
}

# wayland_session_x RUNTIME: DISPLAY of XWayland, open to this user.
wayland_session_x() {
    wait_for 15 test -s "$1/display" || return 1
    DISPLAY=$(cat "$1/display")
    export DISPLAY
    if [ "$(id -u)" = 0 ] && [ "$(wayland_session_user)" != root ]; then
        swaymsg exec 'xhost +si:localuser:root' >/dev/null || return 1
    fi
    wait_for 15 xdpyinfo
}

wayland_session_add_output() {
    local name=$1 size=$2 position=$3
    swaymsg create_output >/dev/null &&
        swaymsg output "$name" resolution "$size" position "${position/,/ }" >/dev/null &&
        wait_for 10 sh -c "swaymsg -t get_outputs | grep -q '\"$name\"'"
}

wayland_session_stop() {
    stop_pid "$wayland_session_keyboard_pid"
    wayland_session_keyboard_pid=""
    stop_pid "$wayland_session_pid"
    wayland_session_pid=""
    stop_pid "$wayland_session_runner_pid"
    wayland_session_runner_pid=""
    [ -n "$wayland_session_dir" ] && rm -rf "$wayland_session_dir"
    wayland_session_dir=""
}

# wayland_session_runner NAME ARG...: for a runner script whose one argument (ARG) is the
# built program: $program, its absolute path; the tools of the desktop driver checked; the
# work folder of the run ($work) and the folder its failures' screenshots go to ($shots,
# NAME-failure beside the program, emptied now). On exit (also by TERM or INT) the program if
# the run left it going (by the id in $work/program.pid), then the compositor are stopped and
# the work folder removed. Returns 2 on bad use, 1 when a tool is missing.
wayland_session_runner() {
    local name=$1
    shift
    program=$(program_argument tarrowin "$@") || return 2
    need_tools convert identify python3 || return 1
    work=$(mktemp -d "/tmp/tarrowin-$name.XXXXXX")
    shots=$(dirname "$program")/$name-failure
    rm -rf "$shots"
    trap wayland_session_cleanup EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT
}

# shellcheck disable=SC2317  # reached through the trap
wayland_session_cleanup() {
    if [ -s "$work/program.pid" ]; then
        stop_pid "$(cat "$work/program.pid")"
    fi
    wayland_session_stop
    rm -rf "$work"
}
