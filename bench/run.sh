#!/usr/bin/env bash
# Benchmarks of the program: builds it in Release mode into build-bench/, starts a private X
# server, window manager and sound server, runs every measurement of bench/measure.py on
# them, prints the table and writes bench/results/bench-<date>.json, then stops exactly what
# it started. About nine minutes on a 2-core machine, the build not counted.
#
#   bench/run.sh [--quick]      --quick: short runs, to try the bench itself (figures rough)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=$root/build-bench

# What the program, the bench programs and the servers need, installed when missing.
packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl1-mesa-dev libsdl2-mixer-dev libxcb1-dev
    libpulse-dev libsndfile1-dev
    xvfb openbox xdotool wmctrl x11-utils pulseaudio pulseaudio-utils python3
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "== Building (Release) into $build_dir"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DTARROWIN_BENCH=ON -DBUILD_TESTING=OFF \
    >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target tarrowin bench_motion bench_empty_window \
    bench_empty_window_sdl bench_tone_floor bench_sink_recorder bench_startup_watch

work=$(mktemp -d /tmp/tarrowin-bench.XXXXXX)
xvfb_pid=""
wm_pid=""
pulse_pid=""

stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
}

cleanup() {
    stop_pid "$pulse_pid"
    # The sound server the bench restarted, if it did.
    if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -f "$XDG_RUNTIME_DIR/pulse/pid" ]; then
        stop_pid "$(cat "$XDG_RUNTIME_DIR/pulse/pid")"
    fi
    stop_pid "$wm_pid"
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

wait_for() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 10))); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# Runtime files, settings and caches of the servers and the program stay in the work folder.
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export XDG_RUNTIME_DIR=$work/runtime HOME=$work/home
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS PULSE_SERVER

# A private X server on the first free display from :91 on.
display=""
for n in $(seq 91 139); do
    [ -e "/tmp/.X$n-lock" ] && continue
    [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    if DISPLAY=":$n" wait_for 10 xdpyinfo && kill -0 "$xvfb_pid" 2>/dev/null; then
        display=":$n"
        break
    fi
    stop_pid "$xvfb_pid"
    xvfb_pid=""
done
[ -n "$display" ] || { echo "no X server could be started" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=$display

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
wait_for 10 wmctrl -m || { echo "the window manager did not start" >&2; exit 1; }

# The sound server, with a null sink in the format of the program's output. Without rewinds:
# when a stream starts, the server would otherwise rewrite the part of the sink's buffer that
# the monitor has already handed to the recorder, and the recording would miss the first
# milliseconds of the tone; so every tone is recorded whole, and the sample-for-sample check
# stays honest (a tone then starts at the sink's next block). The bench restarts the server
# during a run with this same script.
cat >"$work/start-pulse.sh" <<END
#!/bin/sh
exec pulseaudio --daemonize=yes --exit-idle-time=-1 --disable-shm=yes -n \\
    --load='module-null-sink sink_name=null rate=44100 channels=2 format=s16le norewinds=1' \\
    --load='module-native-protocol-unix' --log-target=file:"$work/pulse.log"
END
chmod +x "$work/start-pulse.sh"
"$work/start-pulse.sh" || { echo "the sound server did not start" >&2; exit 1; }
wait_for 10 pactl info || { echo "the sound server does not answer" >&2; exit 1; }
pulse_pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
pactl set-default-sink null

echo "== X server $DISPLAY (pid $xvfb_pid), openbox (pid $wm_pid), PulseAudio (pid $pulse_pid)"
mkdir -p "$root/bench/results"
python3 "$root/bench/measure.py" --build "$build_dir" --work "$work" \
    --results "$root/bench/results" --start-pulse "$work/start-pulse.sh" "$@"
