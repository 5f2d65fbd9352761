#!/usr/bin/env bash
# shellcheck disable=SC2317  # cleanup is reached through trap
# Runs the test command, or only the package build, in a Debian root of another release
# (for example trixie on a Debian 12 machine), made with debootstrap. Called by
# scripts/test.sh --release NAME; as root.
#
#   scripts/release_root.sh RELEASE [--package-only | --install-check]
#
# After the test command, and with --install-check alone, the package built there is
# installed as a practitioner installs it (apt-get install ./tarrowin_*.deb, no recommended
# packages) in a clean root of the same release that holds nothing else, and the installed
# /usr/bin/tarrowin is started on an X server there: its title window must be shown. That
# clean root is a copy of a bare one kept as RELEASE-bare/ beside the build root.
#
# The root is kept in TARROWIN_ROOT_CACHE (default /var/cache/tarrowin) as RELEASE/ and used
# again by later runs; it is made from nothing when it is not there. Each run clones the
# repository's committed HEAD afresh into the root's /root/tarrowin and runs scripts/test.sh
# there, which installs in the root what the build and the tests need, as on a new machine.
# What the root needs of the machine (proc, sys, dev, dev/pts, a dev/shm of its own) is
# mounted for the run and unmounted in reverse order when it ends, however it ends; every
# process still running in the root then is stopped by its PID.
#
# With --package-only the root builds the program and its Debian package only; the package
# is copied to build-RELEASE/ in this repository.
#
#   TARROWIN_MIRROR  the Debian archive to make the root from (default: the machine's own
#                    apt source)
# Other TARROWIN_* variables (TARROWIN_SKIP_SANITIZERS, TARROWIN_FUZZ_SECONDS, ...) are passed
# on to the test command in the root.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

usage() { echo "usage: $0 RELEASE [--package-only | --install-check]" >&2; }
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    usage
    exit 2
fi
release=$1
mode=all
if [ $# -eq 2 ]; then
    case $2 in
    --package-only) mode=package ;;
    --install-check) mode=install ;;
    *) usage; exit 2 ;;
    esac
fi
case $release in
'' | *[!a-z]*)
    echo "release: a Debian code name such as trixie or bookworm" >&2
    exit 2
    ;;
esac
if [ "$(id -u)" != 0 ]; then
    echo "$0: needs root (debootstrap, mount and chroot)" >&2
    exit 1
fi

# The tools this needs on the machine itself.
missing=()
for tool in debootstrap:debootstrap git:git flock:util-linux; do
    command -v "${tool%%:*}" >/dev/null 2>&1 || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# The first Debian archive among the machine's apt sources, in either format.
own_mirror() {
    local uri
    uri=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk '/^URIs:/ && $2 ~ /\/debian\/?$/ { print $2; exit }')
    [ -n "$uri" ] || uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\/.*\/debian\/?$/) { print $i; exit } }')
    echo "${uri:-http://deb.debian.org/debian}"
}
mirror=${TARROWIN_MIRROR:-$(own_mirror)}

cache=${TARROWIN_ROOT_CACHE:-/var/cache/tarrowin}
root=$cache/$release
mkdir -p "$cache"
# One run at a time in a root: a second one waits here.
exec 9>"$cache/$release.lock"
flock 9

started=$(date +%s)
mounted=()
run_pid=""
# The roots this run works in: the build root, and the clean copy of the install check.
roots=("$root")
clean=""

# Every process whose root is one of ours: only what this run started in it can be there.
processes_in_root() {
    local entry pid one
    for entry in /proc/[0-9]*; do
        pid=${entry#/proc/}
        for one in "${roots[@]}"; do
            [ "$entry/root" -ef "$one" ] && echo "$pid"
        done
    done
    return 0
}

stop_processes_in_root() {
    local pids pid
    [ -z "$run_pid" ] || kill "$run_pid" 2>/dev/null
    for signal in TERM KILL; do
        mapfile -t pids < <(processes_in_root)
        [ ${#pids[@]} -gt 0 ] || return 0
        echo "Stopping ${#pids[@]} process(es) left in the root with SIG$signal: ${pids[*]}"
        for pid in "${pids[@]}"; do
            kill -s "$signal" "$pid" 2>/dev/null
        done
        for _ in $(seq 50); do
            [ -z "$(processes_in_root)" ] && return 0
            sleep 0.1
        done
    done
}

cleanup() {
    local status=$?
    # From here on nothing may end the script early: a process that ends by itself between
    # being found and being stopped makes its kill fail.
    set +e
    stop_processes_in_root
    local i target
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        target=${mounted[i]}
        if ! umount "$target" 2>/dev/null; then
            sleep 1
            umount "$target" || echo "WARNING: $target is still mounted"
        fi
    done
    # The clean copy goes, but only with nothing mounted in it any more (its dev is the
    # machine's own).
    if [ -n "$clean" ] && ! findmnt -rn -o TARGET | grep -qF "$clean"; then
        rm -rf "$clean"
    fi
    echo "== $release root: $(($(date +%s) - started)) s in all"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- The root ------------------------------------------------------------------------------
make_root() { # make_root FOLDER: a bare root of the release there, unless one is there
    local made=$1
    [ -x "$made/usr/bin/apt-get" ] && return 0
    echo "== Making a $release root in $made from $mirror"
    # debootstrap mounts proc and sys in the root it makes; an earlier one that was stopped
    # may have left them there.
    findmnt -rn -o TARGET | { grep -F "$made.partial/" || true; } | sort -r | while read -r target; do
        umount "$target"
    done
    rm -rf "$made" "$made.partial"
    debootstrap --variant=minbase "$release" "$made.partial" "$mirror" >"$made.debootstrap.log" 2>&1 || {
        tail -20 "$made.debootstrap.log"
        echo "debootstrap failed; the whole log is $made.debootstrap.log"
        exit 1
    }
    # Packages installed there must not start their services.
    printf '#!/bin/sh\nexit 101\n' >"$made.partial/usr/sbin/policy-rc.d"
    chmod 755 "$made.partial/usr/sbin/policy-rc.d"
    mv "$made.partial" "$made"
}
make_root "$root"
echo "== $release root: $root ($(cat "$root/etc/debian_version"))"

mount_root() { # mount_root ROOT: what a run in it needs of the machine
    local in=$1 target
    for target in proc sys dev dev/pts dev/shm; do
        case $target in
        proc) mount -t proc proc "$in/proc" ;;
        sys) mount -t sysfs sysfs "$in/sys" ;;
        # What is mounted below the root's dev must not show up in the machine's own.
        dev) mount --bind /dev "$in/dev" && mount --make-private "$in/dev" ;;
        dev/pts) mount --bind /dev/pts "$in/dev/pts" ;;
        dev/shm) mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$in/dev/shm" ;;
        esac
        mounted+=("$in/$target")
    done
    cp /etc/resolv.conf "$in/etc/resolv.conf"
}
mount_root "$root"

# --- The repository's committed HEAD -------------------------------------------------------
commit=$(git -C "$repo" rev-parse HEAD)
work=/root/tarrowin
rm -rf "$root$work"
git init -q "$root$work"
git -C "$root$work" fetch -q "$repo" "$commit"
git -C "$root$work" checkout -q --detach FETCH_HEAD
echo "== Commit $(git -C "$root$work" log -1 --format='%h %s')"
if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
    echo "   (changes not committed in $repo are not part of this run)"
fi

# --- The run -------------------------------------------------------------------------------
environment=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
             LANG=C.UTF-8 TERM=dumb DEBIAN_FRONTEND=noninteractive)
while IFS='=' read -r name value; do
    environment+=("$name=$value")
done < <(env | grep '^TARROWIN_' | grep -v '^TARROWIN_\(ROOT_CACHE\|MIRROR\)=' || true)

# in_root ROOT COMMAND: runs the shell command in the root, as a process of its own that
# cleanup stops if need be. The chroot's shell starts no job control: the run and the
# processes it starts are found by their root when they have to be stopped.
in_root() {
    local status=0
    chroot "$1" /usr/bin/env -i "${environment[@]}" /bin/bash -c "$2" &
    run_pid=$!
    wait "$run_pid" || status=$?
    run_pid=""
    return $status
}

status=0
if [ $mode = all ]; then
    in_root "$root" "cd $work && scripts/test.sh" || status=$?
fi
# The package, built in the root of its release (up to date already after the tests).
in_root "$root" "cd $work && scripts/test.sh --package-only" || {
    echo "== The package could not be built"
    exit 1
}
out=$repo/build-$release
mkdir -p "$out"
rm -f "$out"/tarrowin_*.deb
cp "$root$work"/build/tarrowin_*.deb "$out/"
echo "== Package for $release: $(ls "$out"/tarrowin_*.deb)"
[ $mode = package ] && exit 0

# --- The package installed in a clean root, and started -------------------------------------
make_root "$root-bare"
clean=$(mktemp -d "$cache/$release-clean.XXXXXX")
cp -a "$root-bare/." "$clean/"
roots+=("$clean")
mount_root "$clean"
cp "$out"/tarrowin_*.deb "$clean/root/"
# The window is looked for by its name, as in the package's own test.
check='apt-get update -qq &&
    apt-get install -y -qq --no-install-recommends ./tarrowin_*.deb >apt.log 2>&1 ||
    { tail -20 apt.log; echo "FAIL: apt-get cannot install the package"; exit 1; }
echo "Installed: $(dpkg-query -W -f="\${Package} \${Version}" tarrowin)"
apt-get install -y -qq --no-install-recommends xvfb xdotool >>apt.log 2>&1 ||
    { tail -20 apt.log; echo "FAIL: the X server cannot be installed"; exit 1; }
Xvfb :71 -screen 0 1280x800x24 -nolisten tcp >xvfb.log 2>&1 &
export DISPLAY=:71
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done
/usr/bin/tarrowin >program.log 2>&1 &
program=$!
shown=0
for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^Tarrowin \\(Alternating" >/dev/null 2>&1 && { shown=1; break; }
    kill -0 $program 2>/dev/null || break
    sleep 0.2
done
kill $program 2>/dev/null
if [ $shown = 1 ]; then
    echo "PASS: the installed /usr/bin/tarrowin shows its title window"
else
    cat program.log
    echo "FAIL: the installed /usr/bin/tarrowin shows no title window"
    exit 1
fi'
echo "== Installing the package in a clean $release root and starting it"
in_root "$clean" "cd /root && $check" || status=1
exit $status
