# shellcheck shell=bash
# shellcheck disable=SC2034  # sound_session_problem and the pids are read by the caller
# A private sound server whose only output is a null sink in the program's own format
# (44.1 kHz, 16-bit stereo), for the scripts that listen to the program's tones. Two kinds,
# as desktops have them, both answering the PulseAudio protocol on
# $XDG_RUNTIME_DIR/pulse/native:
#   pulseaudio   the PulseAudio daemon
#   pipewire     PipeWire with WirePlumber and its PulseAudio service (pipewire-pulse), on a
#                session bus of their own; what most desktops run today
# Sourced; the caller sets sound_session_server (pulseaudio unless set), gives the session a
# private XDG_RUNTIME_DIR (mode 700), which the program under test must see too, and sets a
# trap that calls sound_session_stop. Nothing goes through systemd: every process is started
# here and stopped by its PID.
#
# As on a desktop, the server remembers the output chosen for a program's streams (PulseAudio's
# stream-restore module, WirePlumber's own), in the session's HOME or runtime folder.
# Under PulseAudio every null sink is loaded with norewinds=1: when a stream starts, the
# server would otherwise rewrite the part of the sink's buffer that the monitor has already
# handed out, and a recording of the monitor would miss the first milliseconds of the tone.
# Under PipeWire the null sink is a PipeWire object of the session's configuration, so that it
# outlives a restart of the PulseAudio service, and the graph runs at 44.1 kHz unless
# sound_session_graph_rate asks for another rate (48000 is PipeWire's own default: the server
# then resamples the program's tones). sound_session_min_quantum, when set, is the graph's
# shortest cycle in frames, as a desktop's configuration has it (1024): no client can make it
# shorter; sound_session_force_quantum, when set, forces every cycle to that many frames.
#
#   sound_session_available        whether the server's programs are installed; says SKIP
#                                  when not
#   sound_session_launch           starts what of the server is not running, always with the
#                                  same command lines, and returns at once. With
#                                  sound_session_log set, the server logs into that file
#   sound_session_start            launches it and waits for its answer; sets the pids and
#                                  makes the null sink ("null") the default output and its
#                                  monitor the default source. Returns 1 when the server does
#                                  not answer, 2 when it answers but cannot be used;
#                                  sound_session_problem says why
#   sound_session_kill WHAT        kills a part of the running server outright, as a crash
#                                  does: server (the PulseAudio daemon; PipeWire's own daemon,
#                                  whose loss ends WirePlumber and leaves the PulseAudio
#                                  service refusing clients) or service (PipeWire's
#                                  PulseAudio service alone). sound_session_start afterwards
#                                  brings the server back whole
#   sound_session_add_sink NAME    loads another null sink, NAME, in the same format
#   sound_session_adopt            takes the PulseAudio daemon named by the pid file as this
#                                  session's (after someone else started it again)
#   sound_session_stop             stops exactly what was started (or adopted), by its PIDs
#   sound_session_recorder_env     the environment a recorder needs: under PipeWire a
#                                  recording that names its monitor stays on it when the
#                                  default output changes
#
# sound_session_pid is the process that answers clients: the PulseAudio daemon, or PipeWire's
# PulseAudio service.

# shellcheck source=SCRIPTDIR/processes.sh
source "$(dirname "${BASH_SOURCE[0]}")/processes.sh"

sound_session_server=${sound_session_server:-pulseaudio}
sound_session_graph_rate=${sound_session_graph_rate:-44100}
sound_session_min_quantum=${sound_session_min_quantum:-}
sound_session_force_quantum=${sound_session_force_quantum:-}
sound_session_pid=""
sound_session_problem=""
sound_session_log=${sound_session_log:-}
sound_session_sink_format="rate=44100 channels=2 format=s16le norewinds=1"
# PipeWire's processes: the session bus, the daemon, WirePlumber, the PulseAudio service.
sound_session_bus_pid=""
sound_session_bus_address=""
sound_session_pw_pid=""
sound_session_wp_pid=""

sound_session_programs() {
    case $sound_session_server in
    pulseaudio) echo pulseaudio pactl ;;
    pipewire) echo pipewire wireplumber pipewire-pulse dbus-daemon pactl ;;
    *) echo "sound_session_server is '$sound_session_server', not pulseaudio or pipewire" >&2 ;;
    esac
}

sound_session_available() {
    local tool
    # shellcheck disable=SC2046  # the programs' names are words
    for tool in $(sound_session_programs); do
        command -v "$tool" >/dev/null 2>&1 && continue
        echo "SKIP: $tool is not installed, no $sound_session_server sound server can be" \
            "started (scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs it)"
        return 1
    done
}

sound_session_recorder_env() {
    [ "$sound_session_server" = pipewire ] && echo "PULSE_PROP=node.dont-move=true"
    return 0
}

# Whatever sound server the calling environment names is not the one of this session.
sound_session_clean_env() {
    unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_COOKIE PULSE_RUNTIME_PATH PULSE_STATE_PATH
}

sound_session_launch() {
    sound_session_clean_env
    if [ "$sound_session_server" = pipewire ]; then
        sound_session_launch_pipewire
        return
    fi
    pulseaudio --daemonize=yes --exit-idle-time=-1 --disable-shm=yes -n \
        --load="module-null-sink sink_name=null $sound_session_sink_format" \
        --load='module-native-protocol-unix' --load=module-stream-restore \
        ${sound_session_log:+"--log-target=file:$sound_session_log"}
}

# PipeWire's configuration, state and session bus live in the runtime folder: nothing of the
# machine's or of a user's own desktop is read or changed.
sound_session_pipewire_config() {
    local dir=$XDG_RUNTIME_DIR/pw-config/pipewire/pipewire.conf.d
    mkdir -p "$dir" "$XDG_RUNTIME_DIR/pw-state"
    {
        echo "context.properties = {"
        if [ "$sound_session_graph_rate" != 48000 ]; then
            echo "default.clock.rate = $sound_session_graph_rate" \
                "default.clock.allowed-rates = [ $sound_session_graph_rate ]"
        fi
        [ -z "$sound_session_min_quantum" ] ||
            echo "default.clock.min-quantum = $sound_session_min_quantum"
        echo "}"
        echo 'context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink
            node.name = "null" node.description = "null" media.class = "Audio/Sink"
            audio.position = [ FL FR ] audio.rate = '"$sound_session_graph_rate"'
            monitor.channel-volumes = true
            monitor.passthrough = true } } ]'
    } >"$dir/90-session.conf"
}

# Runs one of PipeWire's programs in the background with the session's configuration; its
# PID in sound_session_started.
sound_session_spawn() {
    env XDG_CONFIG_HOME="$XDG_RUNTIME_DIR/pw-config" XDG_STATE_HOME="$XDG_RUNTIME_DIR/pw-state" \
        DBUS_SESSION_BUS_ADDRESS="$sound_session_bus_address" PIPEWIRE_LOG_SYSTEMD=false \
        "$@" >>"${sound_session_log:-/dev/null}" 2>&1 &
    sound_session_started=$!
}

# Runs one of PipeWire's tools with the session's configuration and waits for it.
sound_session_spawn_wait() {
    sound_session_spawn "$@"
    wait "$sound_session_started"
}

sound_session_launch_pipewire() {
    sound_session_pipewire_config
    if ! running "$sound_session_bus_pid"; then
        local bus
        bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || return 1
        sound_session_bus_address=$(sed -n 1p <<<"$bus")
        sound_session_bus_pid=$(sed -n 2p <<<"$bus")
    fi
    if ! running "$sound_session_pw_pid"; then
        # A PulseAudio service left from before the daemon went refuses clients: it goes too.
        stop_pid "$sound_session_pid"
        sound_session_pid=""
        stop_pid "$sound_session_wp_pid"
        # A daemon that was killed leaves its socket: its successor's is awaited below.
        rm -f "$XDG_RUNTIME_DIR/pipewire-0"
        sound_session_spawn pipewire
        sound_session_pw_pid=$sound_session_started
        # WirePlumber and the service need the daemon's socket.
        wait_for 5 test -S "$XDG_RUNTIME_DIR/pipewire-0"
    fi
    if ! running "$sound_session_wp_pid"; then
        sound_session_spawn wireplumber
        sound_session_wp_pid=$sound_session_started
    fi
    if ! running "$sound_session_pid"; then
        sound_session_spawn pipewire-pulse
        sound_session_pid=$sound_session_started
    fi
}

sound_session_adopt() {
    [ "$sound_session_server" = pulseaudio ] || return 1
    sound_session_pid=""
    [ -s "$XDG_RUNTIME_DIR/pulse/pid" ] && sound_session_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
    [ -n "$sound_session_pid" ]
}

sound_session_start() {
    sound_session_problem=""
    sound_session_launch
    if ! wait_for 10 pactl info; then
        sound_session_adopt
        sound_session_problem="the $sound_session_server sound server does not answer"
        return 1
    fi
    if [ "$sound_session_server" = pulseaudio ] && ! sound_session_adopt; then
        sound_session_problem="the sound server runs but left no pid file"
        return 2
    fi
    if [ "$sound_session_server" = pipewire ] && [ -n "$sound_session_force_quantum" ] &&
        ! sound_session_spawn_wait pw-metadata -n settings 0 clock.force-quantum \
            "$sound_session_force_quantum"; then
        sound_session_problem="the graph's cycle cannot be forced"
        return 2
    fi
    # WirePlumber makes the null sink known to the service a moment after it answers.
    if ! wait_for 10 pactl set-default-sink null; then
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

sound_session_kill() {
    case $1 in
    server)
        if [ "$sound_session_server" = pipewire ]; then
            stop_pid "$sound_session_pw_pid" KILL
            # WirePlumber ends with the daemon's connection.
            wait_for 5 eval "! running $sound_session_wp_pid" || stop_pid "$sound_session_wp_pid"
            sound_session_pw_pid=""
            sound_session_wp_pid=""
        else
            stop_pid "$sound_session_pid" KILL
            # The daemon's pid file stays, as after a crash; a successor takes it for a
            # running daemon for as long as the dead one is not yet reaped.
            wait_for 5 eval "[ ! -e /proc/$sound_session_pid ]"
            sound_session_pid=""
        fi
        ;;
    service)
        stop_pid "$sound_session_pid" KILL
        sound_session_pid=""
        ;;
    *) return 2 ;;
    esac
}

sound_session_add_sink() {
    # shellcheck disable=SC2086  # the words of the format
    pactl load-module module-null-sink sink_name="$1" $sound_session_sink_format >/dev/null
}

sound_session_stop() {
    stop_pid "$sound_session_pid"
    stop_pid "$sound_session_wp_pid"
    stop_pid "$sound_session_pw_pid"
    stop_pid "$sound_session_bus_pid"
    sound_session_pid=""
    sound_session_wp_pid=""
    sound_session_pw_pid=""
    sound_session_bus_pid=""
}
