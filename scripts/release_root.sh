#!/usr/bin/env bash
# shellcheck disable=SC2317  # cleanup is reached through trap
# Runs the test command, or only the package build, in a Debian root of another release
# (for example trixie on a Debian 12 machine), made with debootstrap. Called by
# scripts/test.sh --release NAME; as root.
#
#   scripts/release_root.sh RELEASE [--package-only]
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

usage() { echo "usage: $0 RELEASE [--package-only]" >&2; }
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    usage
    exit 2
fi
release=$1
package_only=0
if [ $# -eq 2 ]; then
    [ "$2" = --package-only ] || { usage; exit 2; }
    package_only=1
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

# Every process whose root is ours: only what this run started in it can be there.
processes_in_root() {
    local entry pid
    for entry in /proc/[0-9]*; do
        pid=${entry#/proc/}
        [ "$entry/root" -ef "$root" ] && echo "$pid"
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
    echo "== $release root: $(($(date +%s) - started)) s in all"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- The root ------------------------------------------------------------------------------
if [ ! -x "$root/usr/bin/apt-get" ]; then
    echo "== Making a $release root in $root from $mirror"
    # debootstrap mounts proc and sys in the root it makes; an earlier one that was stopped
    # may have left them there.
    findmnt -rn -o TARGET | { grep -F "$root.partial/" || true; } | sort -r | while read -r target; do
        umount "$target"
    done
    rm -rf "$root" "$root.partial"
    debootstrap --variant=minbase "$release" "$root.partial" "$mirror" >"$cache/$release.debootstrap.log" 2>&1 || {
        tail -20 "$cache/$release.debootstrap.log"
        echo "debootstrap failed; the whole log is $cache/$release.debootstrap.log"
        exit 1
    }
    # Packages installed there must not start their services.
    printf '#!/bin/sh\nexit 101\n' >"$root.partial/usr/sbin/policy-rc.d"
    chmod 755 "$root.partial/usr/sbin/policy-rc.d"
    mv "$root.partial" "$root"
fi
echo "== $release root: $root ($(cat "$root/etc/debian_version"))"

mount_in_root() { # mount_in_root TARGET MOUNT-ARGUMENTS...
    local target=$root/$1
    shift
    mount "$@" "$target"
    mounted+=("$target")
}
mount_in_root proc -t proc proc
mount_in_root sys -t sysfs sysfs
mount_in_root dev --bind /dev
# What is mounted below the root's dev must not show up in the machine's own.
mount --make-private "$root/dev"
mount_in_root dev/pts --bind /dev/pts
mount_in_root dev/shm -t tmpfs -o mode=1777,nosuid,nodev tmpfs
cp /etc/resolv.conf "$root/etc/resolv.conf"

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

if [ $package_only = 1 ]; then
    command="scripts/test.sh --package-only"
else
    command="scripts/test.sh"
fi
# The chroot's shell starts no job control: the run and the processes it starts are found
# by their root when they have to be stopped.
chroot "$root" /usr/bin/env -i "${environment[@]}" /bin/bash -c "cd $work && $command" &
run_pid=$!
status=0
wait "$run_pid" || status=$?
run_pid=""

if [ $package_only = 1 ] && [ $status = 0 ]; then
    out=$repo/build-$release
    mkdir -p "$out"
    cp "$root$work"/build/tarrowin_*.deb "$out/"
    echo "== Package for $release: $(ls "$out"/tarrowin_*.deb)"
fi
exit $status
