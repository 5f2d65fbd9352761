#!/usr/bin/env bash
# The sound session of sound_session.sh as a command, for test programs that start, kill and
# stop their sound server between their cases. What it started is kept in
# $XDG_RUNTIME_DIR/sound-session.state, so that each call goes on where the last one ended.
#
#   sound_server.sh pulseaudio|pipewire start      starts what is not running, waits for it
#   sound_server.sh pulseaudio|pipewire kill PART  kills the server or the service outright
#   sound_server.sh pulseaudio|pipewire stop       stops everything started, by its PIDs
#   sound_server.sh pulseaudio|pipewire around COMMAND...
#                                                  runs COMMAND in a runtime folder of its
#                                                  own (TARROWIN_SOUND_RUNTIME), and stops
#                                                  whatever COMMAND started there when it
#                                                  ends, also after a failure or a crash
#
# The caller gives XDG_RUNTIME_DIR (mode 700), but for "around". Exit status: 0 done, 1 the
# server does not answer or cannot be used (said on standard error), 2 bad use; for "around",
# COMMAND's.
set -uo pipefail

sound_session_server=${1:-}
command=${2:-}
case $sound_session_server/$command in
pulseaudio/* | pipewire/*) ;;
*) sed -n '/^#   sound_server/p' "$0" | sed 's/^# *//' >&2 && exit 2 ;;
esac
if [ "$command" = around ]; then
    shift 2
    runtime=$(mktemp -d /tmp/tarrowin-sound.XXXXXX) || exit 2
    chmod 700 "$runtime"
    TARROWIN_SOUND_RUNTIME=$runtime "$@"
    status=$?
    XDG_RUNTIME_DIR=$runtime "$0" "$sound_session_server" stop
    rm -rf "$runtime"
    exit $status
fi
[ -n "${XDG_RUNTIME_DIR:-}" ] || { echo "XDG_RUNTIME_DIR is not set" >&2; exit 2; }

# shellcheck source=SCRIPTDIR/sound_session.sh
source "$(dirname "$0")/sound_session.sh"
state=$XDG_RUNTIME_DIR/sound-session.state
# shellcheck disable=SC1090  # written below
[ -f "$state" ] && source "$state"
sound_session_log=$XDG_RUNTIME_DIR/sound-session.log

status=0
case $command in
start)
    sound_session_start || { status=1 && echo "$sound_session_problem" >&2; } ;;
kill) sound_session_kill "${3:-}" || status=2 ;;
stop) sound_session_stop ;;
*) status=2 ;;
esac
declare -p sound_session_pid sound_session_pw_pid sound_session_wp_pid sound_session_bus_pid \
    sound_session_bus_address >"$state"
exit $status
