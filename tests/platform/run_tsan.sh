#!/usr/bin/env bash
# The sound output's tests built with ThreadSanitizer: the sound library calls the output
# back on a thread of its own, and every piece of state the two threads share must be held
# under the library's lock.
#
#   tests/platform/run_tsan.sh [BUILD_FOLDER]     (default: build-tsan)
#
# The test command runs it as the CTest test tsan_sound_output. Exit status: that of the
# tests, on both sound servers; a report of ThreadSanitizer fails them.
set -euo pipefail
cd "$(dirname "$0")/../.."
build_dir=${1:-build-tsan}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DTARROWIN_TSAN=ON -DTARROWIN_LINE_TABLES=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target tst_soundserver tst_tonefile
# The tests start the sound server and its tools with posix_spawn, which the sanitizer does not
# take for a fork: after a fork of a process with threads it stops judging anything. What the
# suppressions leave out, and why: tests/platform/tsan.supp.
export TSAN_OPTIONS="die_after_fork=0 halt_on_error=1 exitcode=66 suppressions=$(pwd)/tests/platform/tsan.supp"
cd "$build_dir"
ctest --output-on-failure -j1 -R '^(tst_tonefile|tst_soundserver|tst_soundserver_pipewire)$'
