#!/usr/bin/env bash
# Builds the program and every test (installing what they need) and runs them all: unit and
# integration tests on the offscreen platform, end-to-end tests under a real X server and a
# real sound server that the tests start and stop themselves, and the sound output's tests
# built with ThreadSanitizer. Then the same suite once more, built with AddressSanitizer and
# UndefinedBehaviorSanitizer. The build treats every warning as an error.
#
#   scripts/test.sh                     on this machine's own release
#   scripts/test.sh --quick             the inner loop: unit and window tests, no sanitizers
#   scripts/test.sh --release trixie    the same in a fresh Debian root of that release, made
#                                       with debootstrap (scripts/release_root.sh); then its
#                                       package installed in a clean root and started
#   scripts/test.sh --install-check --release trixie
#                                       only that last step: the package built in the root,
#                                       installed in a clean one, started
#   scripts/test.sh --package-only [--release trixie]
#                                       only the program and its Debian package, for this
#                                       machine's release or the one named
set -euo pipefail
cd "$(dirname "$0")/.."

release=""
package_only=0
install_check=0
quick=0
while [ $# -gt 0 ]; do
    case $1 in
    --release)
        [ $# -ge 2 ] || { echo "--release needs a name, such as trixie" >&2; exit 2; }
        release=$2
        shift 2
        ;;
    --release=*)
        release=${1#--release=}
        shift
        ;;
    --package-only)
        package_only=1
        shift
        ;;
    --install-check)
        install_check=1
        shift
        ;;
    --quick)
        quick=1
        shift
        ;;
    *)
        sed -n '/^#   scripts/,/^[^#]/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
        exit 2
        ;;
    esac
done
if [ $install_check = 1 ] && [ -z "$release" ]; then
    echo "--install-check needs --release, such as --release trixie" >&2
    exit 2
fi
if [ -n "$release" ]; then
    [ $install_check = 0 ] || exec scripts/release_root.sh "$release" --install-check
    if [ $package_only = 1 ]; then
        exec scripts/release_root.sh "$release" --package-only
    fi
    exec scripts/release_root.sh "$release"
fi

if [ $quick = 1 ]; then
    # The build folder as it is configured: an existing one is only brought up to date, so
    # that the loop does not rebuild everything for options of its own.
    build_dir=${TARROWIN_BUILD_DIR:-build}
    [ -f "$build_dir/CMakeCache.txt" ] || scripts/setup.sh
    cmake --build "$build_dir" -j"$(nproc)"
    cd "$build_dir"
    exec ctest --output-on-failure -j"$(nproc)" -L '^(unit|window)$'
fi

export TARROWIN_CMAKE_ARGS="-DTARROWIN_WERROR=ON ${TARROWIN_CMAKE_ARGS:-}"
if [ $package_only = 1 ]; then
    TARROWIN_PACKAGE_TOOLS=1 scripts/setup.sh
    (cd "${TARROWIN_BUILD_DIR:-build}" && cpack -G DEB)
    exit
fi

export TARROWIN_TEST_TOOLS=1
# The test builds keep the stacks' debug information only (functions, files and lines), which
# is what their sanitizers and crashes print, for a quicker build.
export TARROWIN_CMAKE_ARGS="-DTARROWIN_LINE_TABLES=ON $TARROWIN_CMAKE_ARGS"
scripts/setup.sh
# A failing test does not hold back the sanitized pass: both are reported, and either fails
# the command.
status=0
(cd "${TARROWIN_BUILD_DIR:-build}" && ctest --output-on-failure -j1 --timeout 900) || status=$?

if [ "${TARROWIN_SKIP_SANITIZERS:-0}" != 1 ]; then
    echo "== The same tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
    asan_dir=${TARROWIN_BUILD_DIR:-build}-asan
    TARROWIN_BUILD_DIR=$asan_dir \
        TARROWIN_CMAKE_ARGS="$TARROWIN_CMAKE_ARGS -DCMAKE_BUILD_TYPE=Debug -DTARROWIN_SANITIZE=ON" \
        scripts/setup.sh
    # Leaks are not counted: the toolkit's font and display libraries keep caches to the end.
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    # The tone runs at every pace of the sound servers' graphs ran in the first pass: here
    # the program's own paths through the sound output (tones, a restart, an output change).
    export TONE_STEPS=${TONE_STEPS:-sound restart switch}
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # The fuzzing runs sanitized in the first pass already, the package holds no code of its
    # own, the ThreadSanitizer build is a build of its own, and the run as an ordinary user
    # builds the program as the practitioner does, without sanitizers: all left out here. So
    # are the runs through XWayland, the same code of the program as on X under another
    # server, which keeps the whole command within its 25 minutes.
    (cd "$asan_dir" &&
        ctest --output-on-failure -j1 --timeout 900 -LE 'fuzz|package|tsan' \
            -E '^(run_as_user|e2e_xwayland|two_outputs_xwayland)$') ||
        status=$?
fi
exit $status
