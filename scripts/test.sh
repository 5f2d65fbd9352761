#!/usr/bin/env bash
# Builds the program and every test (installing what they need) and runs them all: unit and
# integration tests on the offscreen platform, end-to-end tests under a real X server and a
# real sound server that the tests start and stop themselves. Then the same suite once more,
# built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
export TARROWIN_TEST_TOOLS=1
scripts/setup.sh
(cd "${TARROWIN_BUILD_DIR:-build}" && ctest --output-on-failure -j1 --timeout 900)

if [ "${TARROWIN_SKIP_SANITIZERS:-0}" != 1 ]; then
    echo "== The same tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
    asan_dir=${TARROWIN_ASAN_BUILD_DIR:-build-asan}
    TARROWIN_BUILD_DIR=$asan_dir TARROWIN_BUILD_TYPE=Debug \
        TARROWIN_CMAKE_ARGS="-DTARROWIN_SANITIZE=ON" scripts/setup.sh
    # Leaks are not counted: the toolkit's font and display libraries keep caches to the end.
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # The fuzzing runs sanitized in the first pass already, and the package holds no code of
    # its own: both are left out here.
    (cd "$asan_dir" && ctest --output-on-failure -j1 --timeout 900 -LE 'fuzz|install')
fi
