#!/usr/bin/env bash
# shellcheck disable=SC2317  # cleanup is reached through trap
# Real tones through a real sound server, then the same run with no sound server at all, then
# runs in which the server goes away and comes back, appears only after the start, or moves
# its output to another device.
#
#   tests/e2e/tones/run_tones.sh [--server pulseaudio|pipewire] <path to the built tone_run>
#
# The sound server is the PulseAudio daemon, or PipeWire with WirePlumber and its PulseAudio
# service (tests/harness/sound_session.sh), as --server says (pulseaudio unless given).
#
# 1. Starts a private sound server whose only output is a null sink, records what reaches the
#    sink while tone_run runs a stimulation with tones on at the fastest speed, and lets
#    analyse.py check the recording against the turns tone_run printed: every tone its file
#    sample for sample. Under PipeWire its graph runs at the files' 44.1 kHz for this.
#    Beside it a bare client plays a click train on a second output: when the tones fail
#    and the server broke that client as well (or held up a recording), the server is shown
#    at fault side by side and the run is made once more, which must pass. So is any step
#    below that failed while the server held up one of its recordings or broke the bare client
#    (there beside the restarts and the late server) (guarded). Every run keeps the program's
#    sound trace; when its tones fail, sound_trace.py says what the trace tells of that run.
# 1b. (sound48, PipeWire) The same with PipeWire's graph at its own default of 48 kHz, where
#    the server resamples every tone: each must sound in one piece, as long as its file, with
#    nothing of it held back for later.
# 2. Stops that server and runs tone_run where no sound server can be reached: the run must
#    go on as usual, end by itself with status 0 and say once that no tones can be heard.
# 3. Server restart: the server is killed 4 s into a 14 s run and started again (same
#    command line, same runtime folder) at 7 s. The program lives, says once that no tones
#    can be heard, and from 2 s after the server answered again every turn has its tone, once.
#    Under PipeWire "the server" is its own daemon, whose loss ends WirePlumber and leaves
#    the PulseAudio service refusing clients until all three are started again;
# 3b. (restart-service, PipeWire) the same with PipeWire's PulseAudio service alone killed
#    and started again, the daemon and WirePlumber running on.
# 4. No server at the start: a 10 s run in an empty runtime folder, silent, told once and
#    nothing else; a server started there at 3 s brings the tones within 2 s of its answer.
# 5. Output change: 3 s into a 12 s run a second null sink, "phones", is loaded, and at 5 s
#    it is made the default; from half a second later the tones sound on it, and no longer
#    on the first.
# 6. (remember) The desktop's sound settings: the program's streams carry its desktop entry's
#    id and icon and say which side they sound; moved to a second output during one run,
#    the next run of the program sounds there from its first tone, and not on the first.
# The sound server (tests/harness/sound_session.sh) is started and stopped by its PID; every
# null sink is loaded with norewinds=1, so that its monitor records each tone whole.
#
# Environment: TONE_SECONDS (default 6) is the length of the run with sound; TONE_STEPS
# the steps to run (default "sound silent restart late switch" under PulseAudio, "sound
# sound48 restart restart-service late switch" under PipeWire: a run without any server is
# the same whichever server is missing).
# Exit status: 0 pass, 1 fail, 2 bad use, 77 skipped (no sound server can be started here).
# The files of a failing run are kept in <build folder>/e2e-tones-failure/.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../../harness/sound_session.sh
source "$here/../../harness/sound_session.sh"
if [ "${1:-}" = --server ]; then
    sound_session_server=${2:-}
    shift 2 || true
fi
case $sound_session_server in
pulseaudio) default_steps="sound soundload silent restart late switch remember" ;;
pipewire) default_steps="sound sound48 sound2048 soundload restart restart-service late switch remember" ;;
*) echo "usage: $0 [--server pulseaudio|pipewire] <tone_run>" >&2 && exit 2 ;;
esac
program=$(program_argument tone_run "$@") || exit 2
build_dir=$(dirname "$program")
seconds=${TONE_SECONDS:-6}
silent_seconds=4
steps=" ${TONE_STEPS:-$default_steps} "
left_wav=$build_dir/Tones/beep_l.wav
right_wav=$build_dir/Tones/beep_r.wav

sound_session_available || exit 77
need_tools pactl parec python3 timeout || exit 1
for file in "$left_wav" "$right_wav"; do
    [ -f "$file" ] || { echo "FAIL: $file is missing (the build copies Tones/ there)"; exit 1; }
done

work=$(mktemp -d /tmp/tarrowin-tones.XXXXXX)
recorder_pid=""
recorder2_pid=""
bare_pid=""
bare_recorder_pid=""
program_pid=""
poller_pid=""
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export HOME=$work/home
mkdir -p "$HOME"
sound_session_log=$work/server.log

# Stops whatever a step started.
stop_all() {
    stop_pid "$program_pid"
    stop_pid "$poller_pid"
    stop_pid "$recorder_pid"
    stop_pid "$recorder2_pid"
    stop_pid "$bare_pid"
    stop_pid "$bare_recorder_pid"
    sound_session_stop
}

cleanup() {
    stop_all
    rm -rf "$work"
}
trap cleanup EXIT

keep_failure() {
    local keep=$build_dir/e2e-tones-failure
    rm -rf "$keep"
    mkdir -p "$keep"
    cp "$work"/*.log "$work"/*.err "$work"/*.trace "$work"/rec*.* "$keep"/ 2>/dev/null
    cp -r "$work"/server-at-fault-* "$keep"/ 2>/dev/null
    echo "the files of this run are in $keep"
}

fail() {
    echo "FAIL: $*"
    keep_failure
    exit 1
}

# Shows a file that the program wrote, if it wrote anything.
show() {
    [ -s "$1" ] || return 0
    echo "--- $2:"
    cat "$1"
    echo "---"
}

# Whether a step is to be run (TONE_STEPS).
step() {
    [[ $steps == *" $1 "* ]]
}

# Runs a step (the function $1, with the arguments that follow) in a subshell of its own, which
# stops what it started however it ends. A step that failed while the sound server itself was
# seen at fault (it broke the bare client beside the program, or held up one of the step's
# recordings by more than analyse.py allows) tells nothing of the program: it is made once
# more, and that one must pass. Any other failure ends the test.
guarded() {
    rm -f "$work/server-at-fault"
    touch "$work/attempt-began"
    (trap stop_all EXIT && "$@")
    case $? in
    0) return 0 ;;
    77) exit 77 ;;
    esac
    server_at_fault || exit 1
    echo "the sound server was at fault in the same run (above): the step is made once more"
    rm -f "$work/server-at-fault"
    # The first attempt's files go aside (and are kept with a failure), so that nothing of
    # them is taken for the second's: a recorder is awaited by its file.
    local aside=$work/server-at-fault-$1-$$
    mkdir -p "$aside"
    find "$work" -maxdepth 1 -type f -newer "$work/attempt-began" ! -name server.log \
        -exec mv {} "$aside"/ \;
    (trap stop_all EXIT && "$@") || exit 1
}

# Whether the attempt that just failed saw the sound server at fault.
server_at_fault() {
    [ -e "$work/server-at-fault" ] && return 0
    local recordings
    mapfile -t recordings < <(find "$work" -maxdepth 1 -name 'rec-*.stamps' -size +0 \
        -newer "$work/attempt-began")
    [ ${#recordings[@]} -gt 0 ] && ! python3 "$here/analyse.py" --held-up "${recordings[@]}"
}

# Now on CLOCK_MONOTONIC, in ns: the clock of tone_run's times and the recorder's stamps. A
# Python start takes up to a second on a busy machine, far too long to stamp a moment with:
# the shell's own wall clock is read instead, put on the monotonic clock by an offset taken
# once (the wall clock does not jump within the minute of this test).
clock_offset_ns=$(python3 -c 'import time
print(time.clock_gettime_ns(time.CLOCK_MONOTONIC) - time.clock_gettime_ns(time.CLOCK_REALTIME))')
now_ns() {
    local wall=$EPOCHREALTIME
    # Seconds and microseconds, with the locale's decimal point between them.
    echo $((${wall//[^0-9]/} * 1000 + clock_offset_ns))
}

# Waits until CLOCK_MONOTONIC reaches $1 ns.
sleep_until() {
    local left=$(($1 - $(now_ns)))
    [ $left -gt 0 ] || return 0
    sleep "$((left / 1000000000)).$(printf '%09d' $((left % 1000000000)))"
}

ms() {
    echo $(($1 * 1000000))
}

# Watches the socket of a sound server on $XDG_RUNTIME_DIR, to note the moment it first takes
# a connection. Started ahead of the server, as a Python start takes long on a busy machine.
arm_poller() {
    local socket=$XDG_RUNTIME_DIR/pulse/native
    rm -f "$work/answered" "$work/polling"
    # A server that was killed leaves its socket behind: only a connection taken counts.
    python3 -c 'import socket, sys, time
open(sys.argv[2], "w").close()
end = time.monotonic() + 60
while time.monotonic() < end:
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.connect(sys.argv[1])
        print(time.clock_gettime_ns(time.CLOCK_MONOTONIC))
        break
    except OSError:
        time.sleep(0.005)' "$socket" "$work/polling" >"$work/answered" &
    poller_pid=$!
    for _ in $(seq 500); do
        [ -e "$work/polling" ] && return 0
        sleep 0.01
    done
    fail "the watch on the sound server's socket did not start"
}

# Starts the sound server on $XDG_RUNTIME_DIR, always with the same command line, and waits
# for its answer. Sets launched_ns (when the server was started) and answered_ns (when its
# socket first took a connection). Returns 1 when it does not answer.
start_pulse() {
    [ -n "$poller_pid" ] || arm_poller
    launched_ns=$(now_ns)
    local started
    sound_session_start >>"$work/server.log" 2>&1
    started=$?
    wait "$poller_pid"
    poller_pid=""
    answered_ns=$(cat "$work/answered")
    [ $started -ne 1 ] || return 1
    [ $started -eq 0 ] || fail "$sound_session_problem"
    [ -n "$answered_ns" ] || fail "the sound server answers, but its socket took no connection"
}

# Records the monitor $2 into $work/$1.raw and $1.stamps, its PID in started_recorder. It may
# be started before the server: it keeps trying to reach it for some seconds.
launch_recorder() {
    # shellcheck disable=SC2046  # the words of the environment
    env $(sound_session_recorder_env) python3 "$here/recorder.py" "$work/$1.raw" "$work/$1.stamps" "$2" 2>"$work/$1.err" &
    started_recorder=$!
}

# Waits until the sound flows into the recorder $1 (PID $2). The program is started after
# that, else its first tones would be lost.
await_recorder() {
    for _ in $(seq 150); do
        [ -s "$work/$1.stamps" ] && [ "$(wc -l <"$work/$1.stamps")" -ge 50 ] && return 0
        kill -0 "$2" 2>/dev/null || break
        sleep 0.1
    done
    show "$work/$1.err" "recorder said"
    fail "nothing could be recorded into $1"
}

start_recorder() {
    launch_recorder "$1" "$2"
    await_recorder "$1" "$started_recorder"
}

# Starts tone_run for $2 seconds at the fastest speed (or the speed $3) in the background, its
# turns going to $work/$1.log, what it says to $work/$1.err and its sound trace (what the
# server told of each stream, where each tone went) to $work/$1.trace; program_pid is its PID.
start_program() {
    QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
        TARROWIN_SOUND_TRACE="$work/$1.trace" \
        timeout $(($2 + 60)) "$program" "$2" "${3:-9}" >"$work/$1.log" 2>"$work/$1.err" &
    program_pid=$!
}

# Waits for the program started last; it must end by itself with status 0.
wait_program() {
    wait "$program_pid"
    local status=$?
    program_pid=""
    if [ $status -ne 0 ]; then
        show "$work/$1.err" "the program said"
        fail "the program ended with status $status"
    fi
}

# Waits for the run $1 to end as wait_program does, lets its last tone reach the recorders,
# and stops them and the sound server.
finish_run() {
    wait_program "$1"
    sleep 1
    stop_pid "$recorder_pid" INT
    stop_pid "$recorder2_pid" INT
    stop_bare_client
    recorder_pid=""
    recorder2_pid=""
    sound_session_stop
}

# Starts the sound server, a recorder of its null sink (or of the source $4) into $3, and
# then the run $1 of $2 seconds; t0 is the moment the program was started.
start_recorded_run() {
    start_pulse || fail "the sound server could not be started"
    start_recorder "$3" "${4:-null.monitor}"
    recorder_pid=$started_recorder
    t0=$(now_ns)
    start_program "$1" "$2"
}

# Records into $1 from the sound server's first moment on, and starts the server $2 ms after
# t0 (launched_ns and answered_ns tell when it was started and when it answered); $3 tells
# the start in the failure's words.
start_pulse_at() {
    # Under PipeWire a recording made before WirePlumber has linked the null sink runs on
    # another driver of the graph than the sink, and the two clocks' matching leaves cycles
    # out of the recording: there the recorder starts once the server is up. The tones judged
    # begin two seconds after its answer.
    if [ "$sound_session_server" = pulseaudio ]; then
        launch_recorder "$1" null.monitor
        recorder_pid=$started_recorder
    fi
    arm_poller
    sleep_until $((t0 + $(ms "$2")))
    start_pulse || fail "the sound server could not be started $3"
    if [ "$sound_session_server" = pipewire ]; then
        launch_recorder "$1" null.monitor
        recorder_pid=$started_recorder
    fi
}

# The program said once, on one line, that no tones can be heard, and nothing else.
told_once() {
    show "$work/$1.err" "the program said"
    local lines told
    lines=$(wc -l <"$work/$1.err")
    told=$(grep -c "No tones can be heard" "$work/$1.err")
    [ "$told" -eq 1 ] || fail "the program said $told times that no tones can be heard, not once"
    [ "$lines" -eq 1 ] || fail "the program wrote $lines lines on standard error, not one"
}

# With sound everything works: the program has nothing to tell.
told_nothing() {
    if [ -s "$work/$1.err" ]; then
        show "$work/$1.err" "the program said"
        fail "the program reported a problem while the sound server ran"
    fi
}

# Checks the recording $1 (its stamps $2) against the turns of the run whose log is $3, with
# analyse.py's options that follow; when the tones fail, says what the run's sound trace
# tells of the moments that can move a tone.
analyse() {
    local pace=() trace=${3%.log}.trace
    [ "$sound_session_server" = pulseaudio ] && pace=(--sink-pace)
    python3 "$here/analyse.py" "${pace[@]}" "$@" "$left_wav" "$right_wav" && return 0
    [ -f "$trace" ] && python3 "$here/sound_trace.py" "$trace" --started "$(started_ns "$3")"
    return 1
}

# The moment the run whose log is $1 was started, as it printed it.
started_ns() {
    awk '$1 == "#" && $2 == "started" { print $3; exit }' "$1"
}

# ---------------------------------------------------------------------------------------
# 1. With a sound server, at the files' rate and (PipeWire) at the graph's own 48 kHz

# What the program's streams ask of the server, read while they play ($1: the run's name):
# under PipeWire the cycle they ask of the graph (node.latency) no shorter than a desktop's
# default of 1024 frames at 48 kHz; under the PulseAudio daemon a sink latency of 20 ms at least.
check_graph_pace() {
    pactl list sink-inputs >"$work/$1.inputs" 2>&1
    pactl list sinks >"$work/$1.sinks" 2>&1
    python3 - "$sound_session_server" "$work/$1.inputs" "$work/$1.sinks" <<'PY' ||
import re, sys
server, inputs, sinks = sys.argv[1], open(sys.argv[2]).read(), open(sys.argv[3]).read()
# The program's own streams, not the bare client's beside it.
inputs = ''.join(block for block in re.split(r'(?=Sink Input #)', inputs)
                 if 'application.process.binary = "pacat"' not in block)
if server == 'pipewire':
    asked = [int(n) / int(d) for n, d in re.findall(r'node.latency = "(\d+)/(\d+)"', inputs)]
    print('the program\'s streams ask the graph for cycles of %s ms'
          % ', '.join('%.1f' % (a * 1000) for a in asked))
    sys.exit(0 if len(asked) >= 2 and min(asked) >= 1024 / 48000 else 1)
configured = [int(u) for u in re.findall(r'configured (\d+) usec', sinks)]
print('the sink runs at a configured latency of %s ms'
      % ', '.join('%.1f' % (u / 1000) for u in configured))
sys.exit(0 if configured and min(configured) >= 20000 else 1)
PY
        fail "the program's streams shorten the server's cycle below a desktop's own"
}

# A bare client beside the run $1: a click train on a second output of the same server,
# recorded from that output's monitor, so that a fault of the server itself (its graph missing
# a cycle on a machine held up for tens of ms) shows as such: it breaks this client too, where
# a fault of the program leaves it whole. Its queue is long, so that it leaves the graph's pace
# to the program's streams.
start_bare_client() {
    [ -f "$work/clicks.raw" ] || python3 -c 'import sys
sys.path.insert(0, sys.argv[1])
from tones import write_click_train
write_click_train(sys.argv[2], float(sys.argv[3]))' "$here/../../harness" "$work/clicks.raw" $((seconds + 10))
    sound_session_add_sink beside || fail "a second output could not be loaded"
    launch_recorder "rec-$1-beside" beside.monitor
    bare_recorder_pid=$started_recorder
    # shellcheck disable=SC2046  # the words of the environment
    env $(sound_session_recorder_env) pacat --playback --device=beside --format=s16le \
        --rate=44100 --channels=2 --latency-msec=200 --raw "$work/clicks.raw" \
        2>"$work/$1-bare.err" &
    bare_pid=$!
    await_recorder "rec-$1-beside" "$bare_recorder_pid"
}

# Stops the bare client and its recorder.
stop_bare_client() {
    stop_pid "$bare_pid"
    stop_pid "$bare_recorder_pid" INT
    bare_pid=""
    bare_recorder_pid=""
}

# The bare client of the run $1 beside the program's recording $2 (the turns in $3.log, or
# $1.log): when the server broke it or held up either recording, the step's failure is the
# server's (guarded).
judge_bare_client() {
    python3 "$here/analyse.py" --bare "$work/rec-$1-beside.raw" "$work/rec-$1-beside.stamps" \
        "$work/${3:-$1}.log" "$work/$2.stamps"
    case $? in
    1) touch "$work/server-at-fault" ;;
    2) fail "the bare client beside the program could not be heard" ;;
    esac
}

# A recorded run $1 with tones on, the bare client beside it, checked by analyse.py with the
# options that follow. With TONE_LOAD set, two busy loops run beside it.
sound_run() {
    guarded sound_attempt "$@"
}

sound_attempt() {
    local name=$1 busy=()
    shift
    if ! start_pulse; then
        echo "SKIP: no $sound_session_server sound server can be started on this machine"
        show "$work/server.log" "the sound server said"
        exit 77
    fi
    start_recorder "rec-$name" null.monitor
    recorder_pid=$started_recorder
    start_bare_client "$name"
    if [ -n "${TONE_LOAD:-}" ]; then
        for _ in 1 2; do
            timeout $((seconds + 10)) sh -c 'while :; do :; done' &
            busy+=($!)
        done
    fi
    start_program "$name" "$seconds" "${TONE_SPEED:-9}"
    sleep 3
    check_graph_pace "$name"
    finish_run "$name"
    for pid in "${busy[@]}"; do stop_pid "$pid"; done
    show "$work/rec-$name.err" "recorder said"
    told_nothing "$name"
    judge_bare_client "$name" "rec-$name"
    analyse "$work/rec-$name.raw" "$work/rec-$name.stamps" "$work/$name.log" "$@" ||
        fail "the recorded tones do not match the turns"
    python3 "$here/sound_trace.py" --check "$work/$name.trace" ||
        fail "the program kept no sound trace of the run"
}

# The graph's cycle in ms for a quantum of $1 frames at $2 Hz, and the longest a tone may then
# take after its turn's tick: one cycle and 20 ms.
most_onset_ms() {
    python3 -c "import sys; print('%.1f' % (int(sys.argv[1]) * 1000 / int(sys.argv[2]) + 20))" "$1" "$2"
}

if step sound; then
    echo "== tones through $sound_session_server: a ${seconds} s run at the fastest speed"
    # PulseAudio's daemon reads the stream in its sink's blocks of 20 ms at most.
    sound_run tones --max-onset-ms "$(most_onset_ms 1024 44100)"
fi

if step sound48; then
    echo "== tones through $sound_session_server resampling to 48 kHz: a ${seconds} s run"
    sound_session_graph_rate=48000
    # Resampled, the time to the sink was 37.7 ms in most runs and 47 ms in one, all its tones
    # alike: the beat is judged here, not the constant.
    sound_run tones48 --resampled
    sound_session_graph_rate=44100
fi

if step sound2048; then
    echo "== tones through $sound_session_server with the graph's cycle forced to 2048 frames"
    sound_session_force_quantum=2048
    sound_run tones2048 --max-onset-ms "$(most_onset_ms 2048 44100)"
    sound_session_force_quantum=""
fi

if step soundload; then
    echo "== tones through $sound_session_server at a desktop's pace (cycles of 1024 frames" \
        "at least) beside two busy loops, at the speed of key 5"
    sound_session_min_quantum=1024
    # Legs of about a second: a run long enough for a dozen tones.
    fast_seconds=$seconds
    seconds=14
    TONE_LOAD=1 TONE_SPEED=key5 sound_run tonesload --min-tones 10 --max-turn-gap-ms 1500 \
        --max-onset-ms "$(most_onset_ms 1024 44100)"
    seconds=$fast_seconds
    sound_session_min_quantum=""
fi

# ---------------------------------------------------------------------------------------
# 2. Without a sound server

if step silent; then
    echo "== no sound server: a ${silent_seconds} s run"
    silent_runtime=$work/silent-runtime
    mkdir -m 700 "$silent_runtime"
    begin=$(date +%s%N)
    XDG_RUNTIME_DIR=$silent_runtime PULSE_SERVER=unix:/nonexistent \
        QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
        timeout 60 "$program" "$silent_seconds" 9 >"$work/silent.log" 2>"$work/silent.err"
    status=$?
    elapsed_ms=$((($(date +%s%N) - begin) / 1000000))
    echo "ended with status $status after $elapsed_ms ms"
    [ $status -eq 0 ] || fail "the program ended with status $status"
    # Start-up and shut-down take well under a second; waiting on a sound server would not.
    [ $elapsed_ms -le $((silent_seconds * 1000 + 5000)) ] || fail "the run took $elapsed_ms ms"
    # Turns keep coming as with sound: at the fastest speed a leg takes about 125 ms.
    python3 "$here/analyse.py" --turns "$work/silent.log" $((silent_seconds * 1000 / 125 / 2)) ||
        fail "the stimulation did not run as usual without sound"
    told_once silent
fi

# ---------------------------------------------------------------------------------------
# 3. The sound server killed during a run and started again

# The run $1 in which the part $2 of the sound server (see sound_session_kill) is killed.
restart_run() {
    local name=$1 part=$2
    echo "== sound server restart ($part): a 14 s run, killed at 4 s, started again at 7 s"
    start_recorded_run "$name" 14 "rec-$name-before"
    start_bare_client "$name-before"
    sleep_until $((t0 + $(ms 4000)))
    killed_ns=$(now_ns)
    # Killed outright: it leaves its socket (and the daemon its pid file) behind, as a crash
    # does.
    sound_session_kill "$part"
    # The recorders end by themselves when the server goes.
    stop_pid "$recorder_pid" INT
    recorder_pid=""
    stop_bare_client
    sleep_until $((t0 + $(ms 6900)))
    # A PulseAudio service whose PipeWire went refuses clients until it is started again, as
    # a desktop's service manager does with the daemon: it goes before the watch on its
    # socket begins, which would take its refusals for an answer.
    [ "$sound_session_server/$part" = pipewire/server ] && sound_session_kill service
    # The recorder is there from the server's first moment, to show when the tones came.
    start_pulse_at "rec-$name-after" 7000 again
    echo "the server was killed $(((killed_ns - t0) / 1000000)) ms after the program was" \
        "started, started again at $(((launched_ns - t0) / 1000000)) ms and answered at" \
        "$(((answered_ns - t0) / 1000000)) ms"
    await_recorder "rec-$name-after" "$recorder_pid"
    start_bare_client "$name-after"
    finish_run "$name"
    told_once "$name"
    judge_bare_client "$name-before" "rec-$name-before" "$name"
    judge_bare_client "$name-after" "rec-$name-after" "$name"
    echo "-- before the server was killed"
    analyse "$work/rec-$name-before.raw" "$work/rec-$name-before.stamps" "$work/$name.log" \
        --judge-until $((killed_ns - $(ms 300))) --min-tones 10 ||
        fail "the tones before the server was killed do not match the turns"
    echo "-- after the server answered again"
    analyse "$work/rec-$name-after.raw" "$work/rec-$name-after.stamps" "$work/$name.log" \
        --answered "$answered_ns" --back-within 2000 --sound heard,silent,heard --min-tones 10 ||
        fail "the tones after the server came back do not match the turns"
}

step restart && guarded restart_run restart server
step restart-service && guarded restart_run restart-service service

# ---------------------------------------------------------------------------------------
# 4. No sound server at the start; one appears during the run

late_step() {
    echo "== no sound server at the start: a 10 s run, a server started at 3 s"
    main_runtime=$XDG_RUNTIME_DIR
    # An empty runtime folder of its own: nothing there answers until the server is started
    # in it, with the usual command line. A second attempt starts from an empty one too.
    export XDG_RUNTIME_DIR=$work/late-runtime
    rm -rf "$XDG_RUNTIME_DIR"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    t0=$(now_ns)
    start_program late 10
    start_pulse_at rec-late 3000 "during the run"
    echo "the server was started $(((launched_ns - t0) / 1000000)) ms after the program and" \
        "answered at $(((answered_ns - t0) / 1000000)) ms"
    await_recorder rec-late "$recorder_pid"
    start_bare_client late
    finish_run late
    export XDG_RUNTIME_DIR=$main_runtime
    told_once late
    judge_bare_client late rec-late
    # The program finds no server at once, as it starts; were the failure to come a moment
    # later, it would first be taken for no problem.
    analyse "$work/rec-late.raw" "$work/rec-late.stamps" "$work/late.log" \
        --answered "$answered_ns" --back-within 2000 --sound 'silent,heard|heard,silent,heard' ||
        fail "the tones after the server appeared do not match the turns"
}
step late && guarded late_step

# ---------------------------------------------------------------------------------------
# 5. Another output made the default during the run

switch_step() {
    echo "== output change: a 12 s run, a second null sink made the default at 5 s"
    # The first output is recorded as the default source, not by its monitor's name:
    # WirePlumber 0.4 (Debian 12) moves a recording of a named sink monitor to the new
    # default output's monitor, node.dont-move or not; the default source stays.
    start_recorded_run switch 12 rec-first default
    sleep_until $((t0 + $(ms 3000)))
    sound_session_add_sink phones || fail "the second null sink cannot be loaded"
    start_recorder rec-phones phones.monitor
    recorder2_pid=$started_recorder
    sleep_until $((t0 + $(ms 5000)))
    switch_begin=$(now_ns)
    pactl set-default-sink phones || fail "the second null sink cannot be made the default"
    switch_end=$(now_ns)
    echo "the output was changed $(((switch_begin - t0) / 1000000)) to" \
        "$(((switch_end - t0) / 1000000)) ms after the start"
    finish_run switch
    told_nothing switch
    echo "-- on the first output"
    analyse "$work/rec-first.raw" "$work/rec-first.stamps" "$work/switch.log" \
        --judge-until $((switch_begin - $(ms 150))) --silent-from $((switch_end + $(ms 500))) \
        --sound heard || fail "the tones on the first output do not match the turns"
    echo "-- on the output made the default"
    analyse "$work/rec-phones.raw" "$work/rec-phones.stamps" "$work/switch.log" \
        --judge-from $((switch_end + $(ms 500))) --sound heard ||
        fail "the tones on the output made the default do not match the turns"
}
step switch && guarded switch_step

# ---------------------------------------------------------------------------------------
# 6. The output chosen for the program in the desktop's sound settings is remembered

# The program's id (its desktop entry's), which its streams carry as application.id.
app_id=$(sed -n 's/.*kDesktopId = "\([^"]*\)".*/\1/p' "$here/../../../platform/Platform.h")

# The ids of the program's streams on the server, one a line.
program_streams() {
    pactl list sink-inputs | awk -v app="application.id = \"$app_id\"" '
        /^Sink Input #/ { id = substr($3, 2) }
        index($0, app) { print id }'
}

remember_step() {
    echo "== the output chosen for the program: moved during a 5 s run, used by the next"
    start_pulse || fail "the sound server could not be started"
    sound_session_add_sink phones || fail "the second null sink cannot be loaded"
    start_program remember-first 5
    wait_for 10 eval '[ "$(pactl list sink-inputs | grep -c -E "media.name = \"(Left|Right) tone\"")" -ge 2 ]' ||
        fail "the program's streams do not say which side they sound"
    pactl list sink-inputs >"$work/inputs.log"
    for property in "application.id = \"$app_id\"" "application.icon_name = \"$app_id\"" \
        'application.name = "Tarrowin"' 'media.name = "Left tone"' 'media.name = "Right tone"'; do
        grep -q -F "$property" "$work/inputs.log" ||
            { show "$work/inputs.log" "the server lists"; fail "no stream has $property"; }
    done
    for id in $(program_streams); do
        pactl move-sink-input "$id" phones || fail "the program's stream $id cannot be moved"
    done
    wait_program remember-first
    start_recorder rec-chosen phones.monitor
    recorder_pid=$started_recorder
    start_recorder rec-left null.monitor
    recorder2_pid=$started_recorder
    t0=$(now_ns)
    start_program remember-next 5
    finish_run remember-next
    told_nothing remember-next
    echo "-- on the output chosen in the run before"
    analyse "$work/rec-chosen.raw" "$work/rec-chosen.stamps" "$work/remember-next.log" \
        --sound heard || fail "the next run did not sound on the output chosen for it"
    echo "-- on the output left"
    analyse "$work/rec-left.raw" "$work/rec-left.stamps" "$work/remember-next.log" \
        --judge-until "$t0" --silent-from "$t0" --min-tones 0 ||
        fail "the next run sounded on the output it was moved away from"
}
step remember && guarded remember_step

echo "PASS"
