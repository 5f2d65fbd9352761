#!/usr/bin/env bash
# Benchmarks of the program: builds it in Release mode into build-bench/, starts a private X
# server and window manager, runs every measurement of bench/measure.py on them (the sound
# measurements on each sound server in turn, the PulseAudio daemon and PipeWire, which
# measure.py starts, kills and stops through tests/harness/sound_server.sh), prints the table
# and writes bench/results/bench-<date>.json, then stops exactly what it started. About 16
# minutes on a 2-core machine, the build not counted.
#
#   bench/run.sh [--quick] [--only PARTS] [--servers pulseaudio,pipewire]
#                               --quick: short runs, to try the bench itself (figures rough)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=$root/build-bench

# What the program, the bench programs and the servers need, installed when missing.
TARROWIN_BENCH_TOOLS=1 scripts/setup.sh --packages-only

echo "== Building (Release) into $build_dir"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DTARROWIN_BENCH=ON -DBUILD_TESTING=OFF \
    >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target tarrowin bench_motion bench_empty_window \
    bench_empty_window_sdl bench_tone_floor bench_sink_recorder bench_startup_watch \
    bench_moving_window

# shellcheck source=SCRIPTDIR/../tests/harness/x_session.sh
source "$root/tests/harness/x_session.sh"

work=$(mktemp -d /tmp/tarrowin-bench.XXXXXX)
cleanup() {
    # The sound servers measure.py started, each in its runtime folder, if it could not stop
    # them itself.
    local kind
    for kind in pulseaudio pipewire; do
        [ -f "$work/sound-$kind/sound-session.state" ] &&
            XDG_RUNTIME_DIR=$work/sound-$kind "$root/tests/harness/sound_server.sh" "$kind" stop \
                >>"$work/sound-$kind.out" 2>&1
    done
    x_session_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# The X server and window manager; their settings and caches and the program's stay in the
# session's folder.
x_session_start 1920x1080 || { echo "no X server for the bench" >&2; exit 1; }
export HOME=$work/home
mkdir -p "$HOME"

echo "== X server $DISPLAY (pid $x_session_xvfb_pid), openbox (pid $x_session_wm_pid)"
mkdir -p "$root/bench/results"
python3 "$root/bench/measure.py" --build "$build_dir" --work "$work" \
    --results "$root/bench/results" "$@"
