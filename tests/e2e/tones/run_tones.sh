#!/usr/bin/env bash
# Real tones through a real sound server: starts PulseAudio with a null sink, records its
# monitor while the program runs a stimulation with tones on, and checks the recording.
# Then runs the program with no sound server at all. Usage: run_tones.sh TONE_RUN_PROGRAM
set -u
program=$1
here=$(cd "$(dirname "$0")" && pwd)
tones=$(cd "$(dirname "$program")" && pwd)/Tones
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
recorder=
cleanup() {
    [ -n "$recorder" ] && kill "$recorder" 2>/dev/null && wait "$recorder" 2>/dev/null
    [ -f "$XDG_RUNTIME_DIR/pulse/pid" ] && kill "$(cat "$XDG_RUNTIME_DIR/pulse/pid")" 2>/dev/null
    sleep 0.3
    rm -rf "$work"
}
trap cleanup EXIT

command -v pulseaudio >/dev/null || { echo "SKIP: pulseaudio is not installed"; exit 77; }
pulseaudio --daemonize=yes --exit-idle-time=-1 --disable-shm=yes -n \
    --load='module-null-sink sink_name=null rate=44100 channels=2 format=s16le' \
    --load='module-native-protocol-unix' >"$work/pulse.log" 2>&1
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { echo "SKIP: no sound server could be started"; cat "$work/pulse.log"; exit 77; }
pactl set-default-sink null

python3 "$here/recorder.py" "$work/rec.raw" "$work/rec.stamps" &
recorder=$!
sleep 1.5   # the sink's backlog arrives first, before the program plays anything
QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=pulseaudio "$program" 6 9 >"$work/tones.log" 2>"$work/run.err"
status=$?
sleep 1
kill "$recorder"; wait "$recorder" 2>/dev/null; recorder=
if [ $status -ne 0 ]; then echo "FAIL: the program ended with status $status"; cat "$work/run.err"; exit 1; fi
if [ -s "$work/run.err" ]; then echo "FAIL: the program printed:"; cat "$work/run.err"; exit 1; fi
python3 "$here/analyse.py" "$work/rec.raw" "$work/rec.stamps" "$work/tones.log" \
    "$tones/beep_l.wav" "$tones/beep_r.wav" || exit 1

# No sound server: the run goes on silently and says so once.
kill "$(cat "$XDG_RUNTIME_DIR/pulse/pid")"; sleep 0.5
QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=pulseaudio PULSE_SERVER=unix:/nonexistent \
    timeout 30 "$program" 3 9 >"$work/silent.log" 2>"$work/silent.err"
status=$?
said=$(grep -c "No tones can be heard" "$work/silent.err")
plays=$(wc -l <"$work/silent.log")
echo "no sound server: status $status, $plays tones asked for, told $said time(s)"
[ $status -eq 0 ] && [ "$said" -eq 1 ] && [ "$plays" -ge 4 ] || { echo FAIL; cat "$work/silent.err"; exit 1; }
echo PASS
