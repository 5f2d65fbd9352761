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
TARROWIN_BENCH_TOOLS=1 scripts/setup.sh --packages-only

echo "== Building (Release) into $build_dir"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DTARROWIN_BENCH=ON -DBUILD_TESTING=OFF \
    >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target tarrowin bench_motion bench_empty_window \
    bench_empty_window_sdl bench_tone_floor bench_sink_recorder bench_startup_watch

# shellcheck source=SCRIPTDIR/../tests/harness/x_session.sh
source "$root/tests/harness/x_session.sh"
# shellcheck source=SCRIPTDIR/../tests/harness/sound_session.sh
source "$root/tests/harness/sound_session.sh"

work=$(mktemp -d /tmp/tarrowin-bench.XXXXXX)
cleanup() {
    sound_session_stop
    # The sound server the bench restarted, if it did.
    if [ -n "${XDG_RUNTIME_DIR:-}" ] && sound_session_adopt; then
        sound_session_stop
    fi
    x_session_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# The X server and window manager; their settings and caches, the sound server's runtime
# files and the program's stay in the session's folder.
x_session_start 1920x1080 || { echo "no X server for the bench" >&2; exit 1; }
export HOME=$work/home
mkdir -p "$HOME"

# The sound server, with null sinks in the format of the program's output, recorded whole
# (see tests/harness/sound_session.sh). The bench restarts the server during a run with a
# script that launches it with this same command line.
export sound_session_log=$work/pulse.log
cat >"$work/start-pulse.sh" <<END
#!/usr/bin/env bash
source "$root/tests/harness/sound_session.sh"
sound_session_launch
END
chmod +x "$work/start-pulse.sh"
sound_session_start || { echo "$sound_session_problem" >&2; exit 1; }

echo "== X server $DISPLAY (pid $x_session_xvfb_pid), openbox (pid $x_session_wm_pid)," \
    "PulseAudio (pid $sound_session_pid)"
mkdir -p "$root/bench/results"
python3 "$root/bench/measure.py" --build "$build_dir" --work "$work" \
    --results "$root/bench/results" --start-pulse "$work/start-pulse.sh" "$@"
