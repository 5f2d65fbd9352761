#!/usr/bin/env bash
# shellcheck disable=SC2317  # cleanup is reached through trap
# Real tones through a real sound server, then the same run with no sound server at all.
#
#   tests/e2e/tones/run_tones.sh <path to the built tone_run>
#
# 1. Starts a private PulseAudio whose only output is a null sink, records what reaches the
#    sink while tone_run runs a stimulation with tones on at the fastest speed, and lets
#    analyse.py check the recording against the turns tone_run printed.
# 2. Stops that server and runs tone_run where no sound server can be reached: the run must
#    go on as usual, end by itself with status 0 and say once that no tones can be heard.
#
# Environment: TONE_SECONDS (default 8) is the length of the run with sound.
# Exit status: 0 pass, 1 fail, 2 bad use, 77 skipped (no sound server can be started here).
# The files of a failing run are kept in <build folder>/e2e-tones-failure/.
set -uo pipefail

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 <path to the tone_run program>" >&2
    exit 2
fi
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
build_dir=$(dirname "$program")
here=$(cd "$(dirname "$0")" && pwd)
seconds=${TONE_SECONDS:-8}
silent_seconds=4
left_wav=$build_dir/Tones/beep_l.wav
right_wav=$build_dir/Tones/beep_r.wav

if ! command -v pulseaudio >/dev/null 2>&1; then
    echo "SKIP: pulseaudio is not installed, no sound server can be started" \
        "(scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs it)"
    exit 77
fi
missing=()
for tool in pactl parec python3 timeout; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "FAIL: missing tools: ${missing[*]}" \
        "(scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs them)"
    exit 1
fi
for file in "$left_wav" "$right_wav"; do
    [ -f "$file" ] || { echo "FAIL: $file is missing (the build copies Tones/ there)"; exit 1; }
done

work=$(mktemp -d /tmp/tarrowin-tones.XXXXXX)
recorder_pid=""
pulse_pid=""
# Whatever sound server the calling environment names is not the one of this test.
unset PULSE_SERVER PULSE_SINK PULSE_SOURCE PULSE_COOKIE PULSE_RUNTIME_PATH PULSE_STATE_PATH
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export HOME=$work/home
mkdir -p "$HOME"

stop_pid() {
    local pid=$1 signal=${2:-TERM}
    [ -n "$pid" ] || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    kill "-$signal" "$pid" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
}

stop_pulse() {
    stop_pid "$pulse_pid"
    pulse_pid=""
}

cleanup() {
    stop_pid "$recorder_pid"
    stop_pulse
    rm -rf "$work"
}
trap cleanup EXIT

keep_failure() {
    local keep=$build_dir/e2e-tones-failure
    rm -rf "$keep"
    mkdir -p "$keep"
    cp "$work"/*.log "$work"/*.err "$work"/rec.* "$keep"/ 2>/dev/null
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

# ---------------------------------------------------------------------------------------
# 1. With a sound server

pulseaudio --daemonize=yes --exit-idle-time=-1 --disable-shm=yes -n \
    --load='module-null-sink sink_name=null rate=44100 channels=2 format=s16le norewinds=1' \
    --load='module-native-protocol-unix' >"$work/pulse.log" 2>&1
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
[ -s "$XDG_RUNTIME_DIR/pulse/pid" ] && pulse_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
if ! pactl info >/dev/null 2>&1; then
    echo "SKIP: no sound server can be started on this machine"
    show "$work/pulse.log" "pulseaudio said"
    exit 77
fi
[ -n "$pulse_pid" ] || fail "the sound server runs but left no pid file"
pactl set-default-sink null || fail "the null sink cannot be made the default output"

# The recorder runs from before the program's first sound until after its last. The sink's
# sound reaches it only a second or so after it starts: the program is started once the
# sound flows, else its first tones are lost.
python3 "$here/recorder.py" "$work/rec.raw" "$work/rec.stamps" 2>"$work/recorder.err" &
recorder_pid=$!
for _ in $(seq 100); do
    [ -s "$work/rec.stamps" ] && [ "$(wc -l <"$work/rec.stamps")" -ge 50 ] && break
    kill -0 "$recorder_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -s "$work/rec.stamps" ] || [ "$(wc -l <"$work/rec.stamps")" -lt 50 ]; then
    show "$work/recorder.err" "recorder said"
    fail "nothing could be recorded from the sound server's sink"
fi

echo "== tones through a sound server: a ${seconds} s run at the fastest speed"
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
    timeout $((seconds + 60)) "$program" "$seconds" 9 >"$work/tones.log" 2>"$work/tones.err"
status=$?
sleep 1
stop_pid "$recorder_pid" INT
recorder_pid=""
show "$work/recorder.err" "recorder said"
if [ $status -ne 0 ]; then
    show "$work/tones.err" "the program said"
    fail "the program ended with status $status"
fi
# With sound everything works: the program has nothing to tell.
if [ -s "$work/tones.err" ]; then
    show "$work/tones.err" "the program said"
    fail "the program reported a problem while the sound server ran"
fi
python3 "$here/analyse.py" "$work/rec.raw" "$work/rec.stamps" "$work/tones.log" \
    "$left_wav" "$right_wav" || fail "the recorded tones do not match the turns"
stop_pulse

# ---------------------------------------------------------------------------------------
# 2. Without a sound server

echo "== no sound server: a ${silent_seconds} s run"
silent_runtime=$work/silent-runtime
mkdir -m 700 "$silent_runtime"
begin=$(date +%s%N)
XDG_RUNTIME_DIR=$silent_runtime PULSE_SERVER=unix:/nonexistent \
    QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
    timeout 60 "$program" "$silent_seconds" 9 >"$work/silent.log" 2>"$work/silent.err"
status=$?
elapsed_ms=$((($(date +%s%N) - begin) / 1000000))
show "$work/silent.err" "the program said"
echo "ended with status $status after $elapsed_ms ms"
[ $status -eq 0 ] || fail "the program ended with status $status"
# Start-up and shut-down take well under a second; waiting on a sound server would not.
[ $elapsed_ms -le $((silent_seconds * 1000 + 5000)) ] || fail "the run took $elapsed_ms ms"
# Turns keep coming as with sound: at the fastest speed a leg takes about 125 ms.
python3 "$here/analyse.py" --turns "$work/silent.log" $((silent_seconds * 1000 / 125 / 2)) ||
    fail "the stimulation did not run as usual without sound"
lines=$(grep -c . "$work/silent.err")
told=$(grep -c "No tones can be heard" "$work/silent.err")
[ "$told" -eq 1 ] || fail "the program said $told times that no tones can be heard, not once"
[ "$lines" -eq 1 ] || fail "the program wrote $lines lines on standard error, not one"

echo "PASS"
