# shellcheck shell=bash
# What every script of the harness needs to run helpers of its own and end them again.
# Sourced (x_session.sh and sound_session.sh source it themselves); safe under set -e.
#
#   running PID                    whether the process runs (has not ended)
#   stop_pid PID [SIGNAL]          ends one process that the script started, by its id: the
#                                  signal (TERM unless named), then KILL after 5 s
#   wait_for SECONDS COMMAND...    polls the command until it succeeds; 1 when it never did
#   need_tools TOOL...             fails (status 1) naming the tools that are not installed
#   program_argument NAME ARG...   prints the one argument of a runner script, an executable,
#                                  as an absolute path; fails (status 2) with the usage else:
#                                  program=$(program_argument tarrowin "$@") || exit 2

[ -n "${harness_processes_loaded:-}" ] && return 0
harness_processes_loaded=1

# Whether the process runs: one that has ended but is not yet reaped by its parent (a server
# whose starting script has gone is reaped by init, in its own time) has ended.
running() {
    local stat
    [ -n "$1" ] && stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

stop_pid() {
    local pid=$1 signal=${2:-TERM}
    running "$pid" || return 0
    kill "-$signal" "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
        running "$pid" || return 0
        sleep 0.05
    done
    kill -9 "$pid" 2>/dev/null || true
}

wait_for() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    for _ in $(seq "$tries"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

need_tools() {
    local tool missing=()
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "FAIL: missing tools: ${missing[*]}" \
        "(scripts/setup.sh with TARROWIN_TEST_TOOLS=1 installs them)"
    return 1
}

program_argument() {
    local name=$1
    shift
    if [ $# -ne 1 ] || [ ! -x "$1" ]; then
        echo "usage: $0 <path to the $name program>" >&2
        return 2
    fi
    echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
}
