# shellcheck shell=bash
# shellcheck disable=SC2034  # sound_session_problem is read by the caller
# A private PulseAudio sound server whose only output is a null sink in the program's own
# format (44.1 kHz, 16-bit stereo), for the scripts that listen to the program's tones.
# Sourced; the caller gives it a private XDG_RUNTIME_DIR (mode 700), which the program under
# test must see too, and sets a trap that calls sound_session_stop.
#
# Every null sink is loaded with norewinds=1: when a stream starts, the server would otherwise
# rewrite the part of the sink's buffer that the monitor has already handed out, and a
# recording of the monitor would miss the first milliseconds of the tone. Without rewinds
# every tone is recorded whole (it then starts at the sink's next block).
#
#   sound_session_available        whether pulseaudio is installed; says SKIP when not
#   sound_session_launch           starts the server on $XDG_RUNTIME_DIR, always with the
#                                  same command line; it daemonizes itself, so this returns
#                                  at once. With sound_session_log set, the server logs into
#                                  that file
#   sound_session_start            launches it and waits for its answer; sets
#                                  sound_session_pid and makes the null sink ("null") the
#                                  default output and its monitor the default source.
#                                  Returns 1 when the server does not answer, 2 when it
#                                  answers but cannot be used; sound_session_problem says why
#   sound_session_add_sink NAME    loads another null sink, NAME, in the same format
#   sound_session_adopt            takes the server named by the pid file as this session's
#                                  (after someone else started it again)
#   sound_session_stop             stops exactly the server started (or adopted), by its PID

# shellcheck source=SCRIPTDIR/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"

sound_session_pid=""
sound_session_problem=""
sound_session_log=${sound_session_log:-}
sound_session_sink_format="rate=44100 channels=2 format=s16le norewinds=1"

sound_session_available() {
    command -v pulseaudio >/dev/null 2>&1 && return 0
    echo "SKIP: pulseaudio is not installed, no sound server can be started" \
        "(scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs it)"
    return 1
}

sound_session_launch() {
    # Whatever sound server the calling environment names is not the one of this session.
    unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_COOKIE PULSE_RUNTIME_PATH PULSE_STATE_PATH
    pulseaudio --daemonize=yes --exit-idle-time=-1 --disable-shm=yes -n \
        --load="module-null-sink sink_name=null $sound_session_sink_format" \
        --load='module-native-protocol-unix' ${sound_session_log:+"--log-target=file:$sound_session_log"}
}

sound_session_adopt() {
    sound_session_pid=""
    [ -s "$XDG_RUNTIME_DIR/pulse/pid" ] && sound_session_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
    [ -n "$sound_session_pid" ]
}

sound_session_start() {
    sound_session_problem=""
    sound_session_launch
    if ! wait_for 10 pactl info; then
        sound_session_adopt
        sound_session_problem="the sound server does not answer"
        return 1
    fi
    if ! sound_session_adopt; then
        sound_session_problem="the sound server runs but left no pid file"
        return 2
    fi
    if ! pactl set-default-sink null; then
        sound_session_problem="the null sink cannot be made the default output"
        return 2
    fi
    # Chosen by name: else the server takes the default sink's monitor as its default source,
    # and moves the recorders with it when another output is made the default, although
    # they named the monitor they record.
    if ! pactl set-default-source null.monitor; then
        sound_session_problem="the null sink's monitor cannot be chosen"
        return 2
    fi
}

sound_session_add_sink() {
    # shellcheck disable=SC2086  # the words of the format
    pactl load-module module-null-sink sink_name="$1" $sound_session_sink_format >/dev/null
}

sound_session_stop() {
    stop_pid "$sound_session_pid"
    sound_session_pid=""
}
