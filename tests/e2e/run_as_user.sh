#!/usr/bin/env bash
# The README's run command as a practitioner runs it: an ordinary user (made here when
# missing) with a Wayland compositor and a sound server of their own, and every package
# already installed, runs scripts/run.sh in a clean copy of the clone. It must build as that
# user and start the program as that user, natively on the compositor, and the program's
# tones must reach that user's sound server.
#
#   tests/e2e/run_as_user.sh <source folder>
#
# Exit status: 0 pass, 1 fail, 77 skipped (not root: the user cannot be made). The copy is
# built without its tests (-DBUILD_TESTING=OFF), which is the program alone.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
title="Tarrowin (Alternating bilateral visuals and tones for EMDR)"

# The part that runs as the user: $1 the copy of the clone.
as_user() {
    local clone=$1 status=0
    # shellcheck source=SCRIPTDIR/../harness/wayland_session.sh
    source "$here/../harness/wayland_session.sh"
    # shellcheck source=SCRIPTDIR/../harness/sound_session.sh
    source "$here/../harness/sound_session.sh"
    program_pid=""
    trap 'stop_pid "$program_pid"; sound_session_stop; wayland_session_stop' EXIT
    # shellcheck disable=SC2119  # one output, native: no arguments
    wayland_session_start || return $?
    sound_session_start || { echo "FAIL: the user's sound server: $sound_session_problem"; return 1; }
    echo "As $(id -un): compositor and sound server of the user's own, in $XDG_RUNTIME_DIR"

    before_the_build "$clone"
    (cd "$clone" && exec env TARROWIN_CMAKE_ARGS=-DBUILD_TESTING=OFF scripts/run.sh) \
        >"$clone/run.log" 2>&1 &
    program_pid=$!
    # The build first: until the title shows, or run.sh has ended.
    wait_for 600 sh -c "swaymsg -t get_tree | grep -qF '\"name\": \"$title\"' ||
        ! kill -0 $program_pid"
    check "the title window is shown (the build and start as the user)" \
        sh -c "swaymsg -t get_tree | grep -qF '\"name\": \"$title\"'"
    check "  by the program run.sh started, running as $(id -un)" \
        test "$(stat -c %U "/proc/$program_pid")" = "$(id -un)" -a \
        "$(readlink "/proc/$program_pid/exe")" = "$clone/build/tarrowin"
    # Under its desktop entry's id, which the program sets itself.
    app_id=$(sed -n 's/.*kDesktopId = "\([^"]*\)".*/\1/p' "$clone/platform/Platform.h")
    check "  natively on the compositor, as $app_id" \
        sh -c "swaymsg -t get_tree | grep -qF '\"app_id\": \"$app_id\"'"
    # Continue; on the settings, Shift+Tab from the first control in tab order wraps to the
    # last, Sound Tones, which the space bar ticks; then Enter: the run starts, its turns sound.
    wtype -s 300 -k Return -s 700 -M shift -k Tab -m shift -s 300 -k space -s 300 -k Return
    check "  Continue, Sound Tones ticked, Enter: the stimulation runs" wait_for 10 sh -c \
        "swaymsg -t get_tree | grep -qF '\"name\": \"Alternating Bilateral Stimulation\"'"
    # The first turn comes within the first leg, a few seconds at the speed it starts at.
    timeout 8 parec --device=null.monitor --raw --format=s16le --rate=44100 --channels=2 \
        >"$clone/tones.raw"
    check "a tone reaches the user's sound server" python3 -c '
import array, sys
samples = array.array("h", open(sys.argv[1], "rb").read())
peak = max((abs(s) for s in samples), default=0)
print(f"  {len(samples) // 2} frames recorded, peak {peak}")
sys.exit(0 if peak > 1000 else 1)' "$clone/tones.raw"
    check "  from a stream of the program" \
        sh -c "pactl list sink-inputs | grep -q 'application.process.binary = \"tarrowin\"'"
    after_the_build "$clone"
    if [ $failures -gt 0 ]; then
        echo "run.sh said:"
        tail -30 "$clone/run.log"
    fi
    [ $failures = 0 ] || status=1
    return $status
}

# A folder for PATH holding what PATH holds, less the tools named: $1 the folder.
path_without() {
    local farm=$1 dir tool
    shift
    mkdir -p "$farm"
    for dir in ${PATH//:/ }; do
        for tool in "$dir"/*; do
            [ -x "$tool" ] && [ ! -e "$farm/${tool##*/}" ] && ln -s "$tool" "$farm/${tool##*/}"
        done
    done
    for tool in "$@"; do rm -f "$farm/$tool"; done
}

# The ways run.sh is started on a machine not set up for it, before the real build: a
# package missing with no sudo, or with a sudo that is refused; a build folder the user
# cannot write. Each must end before CMake with the one command to run as root, and never
# call apt-get as the user.
before_the_build() {
    local clone=$1 shims=$HOME/shims out=$HOME/out status
    mkdir -p "$shims"
    # dpkg tells fonts-liberation2 and sway (a test tool) as not installed; apt-get and sudo note their calls.
    cat >"$shims/dpkg-query" <<'SHIM'
#!/bin/sh
for last; do :; done
case $last in fonts-liberation2 | sway) echo not-installed; exit 0 ;; esac
exec /usr/bin/dpkg-query "$@"
SHIM
    # shellcheck disable=SC2016  # expanded by the shim
    printf '#!/bin/sh\necho "$*" >>"$HOME/$(basename "$0").calls"\nexit 1\n' >"$shims/noted"
    chmod +x "$shims/dpkg-query" "$shims/noted"
    ln -s noted "$shims/apt-get"
    path_without "$HOME/no-sudo" sudo

    status=0
    (cd "$clone" && PATH=$shims:$HOME/no-sudo scripts/run.sh) >"$out" 2>&1 || status=$?
    check "a package missing, no sudo: run.sh stops before the build (status $status)" \
        test "$status" != 0 -a ! -e "$clone/build"
    check "  naming the one apt-get line for root" \
        grep -qx '    apt-get install --no-install-recommends fonts-liberation2' "$out"
    check "  and calls no apt-get as the user" test ! -e "$HOME/apt-get.calls"

    ln -s noted "$shims/sudo"
    status=0
    (cd "$clone" && PATH=$shims:$HOME/no-sudo TARROWIN_TEST_TOOLS=1 scripts/run.sh) \
        >"$out" 2>&1 || status=$?
    check "a package missing, sudo refused: the list itself goes to sudo, test tools and all" \
        grep -qE '^scripts/setup.sh --install .*fonts-liberation2.* sway( |$)' "$HOME/sudo.calls"
    check "  then the apt-get line for root (status $status), no apt-get as the user" sh -c \
        "grep -q '^    apt-get install --no-install-recommends .*sway' '$out' &&
         test ! -e '$HOME/apt-get.calls' -a ! -e '$clone/build'"

    status=0
    (cd "$clone" && TARROWIN_BUILD_DIR=$ROOT_OWNED_BUILD scripts/setup.sh --program) \
        >"$out" 2>&1 || status=$?
    check "a build folder of root's: stopped before CMake (status $status), with the mending" \
        sh -c "grep -qx '    chown -R $(id -un): $ROOT_OWNED_BUILD' '$out' && ! grep -q CMake '$out'"
    check "a package on hold counts as installed" \
        sh -c "cd '$clone' && [ -z \"\$(scripts/setup.sh --missing)\" ]"
    [ $failures = 0 ] || cat "$out"
}

# With the program built: without Debian's package tools, the libraries are looked for by
# CMake: found, the build goes on; not found, they are named and nothing is installed.
after_the_build() {
    local clone=$1 out=$HOME/out status=0
    path_without "$HOME/no-apt" apt-get apt dpkg-query dpkg sudo
    (cd "$clone" && PATH=$HOME/no-apt TARROWIN_CMAKE_ARGS=-DBUILD_TESTING=OFF \
        scripts/setup.sh --program) >"$out" 2>&1 || status=$?
    check "no apt-get, the libraries there: the program is built (status $status)" \
        sh -c "grep -q 'Built target tarrowin' '$out' && ! grep -qi 'apt-get\|packages' '$out'"
    status=0
    (cd "$clone" && PATH=$HOME/no-apt PKG_CONFIG_LIBDIR=/nonexistent scripts/setup.sh --program) \
        >"$out" 2>&1 || status=$?
    check "no apt-get, libraries missing: stops (status $status), naming them by their own names" \
        sh -c "test $status != 0 && grep -qx '    libsndfile' '$out' &&
               grep -qx '    SDL2_mixer (with SDL2)' '$out'"
}

failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "PASS: $what"
    else
        echo "FAIL: $what"
        failures=$((failures + 1))
    fi
}

if [ "${1:-}" = --as-user ]; then
    shift
    as_user "$@"
    exit $?
fi

# shellcheck source=SCRIPTDIR/../harness/processes.sh
source "$here/../harness/processes.sh"
if [ $# -ne 1 ] || [ ! -f "$1/scripts/run.sh" ]; then
    echo "usage: $0 <source folder>" >&2
    exit 2
fi
source_dir=$(cd "$1" && pwd)
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: an ordinary user for the run can only be made as root"
    exit 77
fi
need_tools useradd runuser git tar sway wtype pulseaudio parec pactl python3 || exit 1
user=${TARROWIN_PRACTITIONER:-tarrowin-practitioner}
if ! id "$user" >/dev/null 2>&1; then
    useradd --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" ||
        exit 1
fi
work=$(mktemp -d /tmp/tarrowin-run-as-user.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -p "$work/clone" "$work/home"
# A clean clone: the files git tracks, as they stand.
git -C "$source_dir" ls-files -z | tar -C "$source_dir" --null -T - -cf - |
    tar -C "$work/clone" -xf -
chown -R "$user" "$work/clone" "$work/home"
# A build folder left by a run as root.
mkdir -p "$work/root-build"
touch "$work/root-build/CMakeCache.txt"
# A package on hold stays installed: the run below must not take it for missing.
held=fonts-liberation2
if [ "$(dpkg-query -W -f='${Status}' "$held" 2>/dev/null)" = "install ok installed" ]; then
    apt-mark hold "$held" >/dev/null && trap 'apt-mark unhold "$held" >/dev/null; rm -rf "$work"' EXIT
fi
# The user runs this script's copy in the clone: the source folder may lie where only root
# can read (a clone in /root, as on a build machine).
runuser -u "$user" -- env -i "PATH=$PATH" "HOME=$work/home" LANG=C.UTF-8 \
    "ROOT_OWNED_BUILD=$work/root-build" \
    bash "$work/clone/tests/e2e/run_as_user.sh" --as-user "$work/clone"
