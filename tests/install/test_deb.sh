#!/usr/bin/env bash
# The Debian package as a practitioner's machine gets it: built by CPack from the build
# folder, its contents listed and checked, unpacked into a scratch root, and the unpacked
# program started there (through its link in bin/) on an X server and window manager of its
# own, with no sound server (SDL's dummy output). The program must find its default picture
# and tones beside its real file wherever it is unpacked, and end with status 0 when closed.
#
#   tests/install/test_deb.sh <build folder>
#
# Exit status: 0 pass, 1 fail, 77 skipped (no dpkg-deb, or no X server can be started).
set -uo pipefail

if [ $# -ne 1 ] || [ ! -f "$1/CPackConfig.cmake" ]; then
    echo "usage: $0 <configured and built build folder>" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../harness/x_session.sh
source "$here/../harness/x_session.sh"

for tool in cpack dpkg-deb xdotool wmctrl; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

program_pid=""
x_session_scratch deb
scratch=$work

failures=0
check() { # check <description> <command...>
    local what=$1
    shift
    if "$@"; then
        echo "ok   - $what"
    else
        echo "FAIL - $what"
        failures=$((failures + 1))
    fi
}

# --- The package -------------------------------------------------------------------------
if ! (cd "$build" && cpack -G DEB -B "$scratch/package") >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL - cpack could not build the package"
    exit 1
fi
deb=$(find "$scratch/package" -maxdepth 1 -name 'tarrowin_*_*.deb' | head -1)
if [ -z "$deb" ]; then
    cat "$scratch/cpack.log"
    echo "FAIL - cpack wrote no tarrowin_<version>_<architecture>.deb"
    exit 1
fi
echo "Package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' \
    >"$scratch/contents"
listed() { grep -qxF -- "$1" "$scratch/contents"; }
check "bin/tarrowin is a link to the program in lib/tarrowin/" \
    listed "./usr/bin/tarrowin -> ../lib/tarrowin/tarrowin"
check "the program in lib/tarrowin/" listed "./usr/lib/tarrowin/tarrowin"
check "its default picture beside it" listed "./usr/lib/tarrowin/Pictures/Face.ico"
check "its default tones beside it" listed "./usr/lib/tarrowin/Tones/beep_l.wav"
check "  (the right one too)" listed "./usr/lib/tarrowin/Tones/beep_r.wav"
# The program's one id: the constant the program hands the toolkit (the window's application
# id) and the sound server (its streams' application.id); every file that carries it is
# named by it.
id=$(sed -n 's/.*kDesktopId = "\([^"]*\)".*/\1/p' "$here/../../platform/Platform.h")
check "the program's id is reverse-DNS ($id)" grep -qE '^[a-z]+(\.[A-Za-z0-9_-]+){2,}$' <<<"$id"
check "the desktop entry, named by the id" listed "./usr/share/applications/$id.desktop"
check "the icon in the icon theme, named by the id" \
    listed "./usr/share/icons/hicolor/32x32/apps/$id.png"
check "the software centre's metainfo, named by the id" \
    listed "./usr/share/metainfo/$id.metainfo.xml"
check "the manual page" listed "./usr/share/man/man1/tarrowin.1.gz"
check "the copyright file" listed "./usr/share/doc/tarrowin/copyright"

field() { dpkg-deb -f "$deb" "$1"; }
check "package name tarrowin" test "$(field Package)" = tarrowin
for dependency in libqt6widgets6 libpulse0 libsndfile1 libsdl2-mixer-2.0-0 qt6-qpa-plugins \
    qt6-wayland; do
    check "depends on $dependency" grep -q "\\b$dependency\\b" <<<"$(field Depends)"
done
# The list used where dpkg-shlibdeps is not installed names every library it found here.
fallback=$(sed -n 's/^set(CPACK_TARROWIN_LINKED_DEPENDS "\(.*\)")$/\1/p' "$build/CPackConfig.cmake" |
    tr ';|' '\n\n' | sed 's/(.*//; s/ //g')
check "the package's own list of linked libraries is in CPackConfig.cmake" test -n "$fallback"
loaded=" qt6-qpa-plugins qt6-wayland fonts-liberation2 "
for dependency in $(field Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' | sort -u); do
    case $loaded in *" $dependency "*) continue ;; esac
    check "  names $dependency, which dpkg-shlibdeps found" \
        grep -qxF "$dependency" <<<"$fallback"
done

# What apt would do to install it here: every dependency resolvable, nothing removed.
if command -v apt-get >/dev/null 2>&1; then
    apt-get install --simulate "$deb" >"$scratch/apt.log" 2>&1
    apt_status=$?
    check "apt can install the package with its dependencies (status $apt_status)" \
        test "$apt_status" = 0
    check "  and would remove nothing for it" \
        bash -c "! grep -q '^Remv ' '$scratch/apt.log'"
    check "  and installs tarrowin itself" grep -q '^Inst tarrowin ' "$scratch/apt.log"
    [ "$apt_status" = 0 ] || cat "$scratch/apt.log"
fi

root=$scratch/root
dpkg-deb -x "$deb" "$root"
entry=$root/usr/share/applications/$id.desktop
metainfo=$root/usr/share/metainfo/$id.metainfo.xml
has_line() { grep -qxF -- "$1" "$entry"; }
check "desktop entry: [Desktop Entry]" has_line "[Desktop Entry]"
check "desktop entry: Type=Application" has_line "Type=Application"
check "desktop entry: Exec=tarrowin" has_line "Exec=tarrowin"
check "desktop entry: Icon=$id" has_line "Icon=$id"
check "metainfo: <id>$id</id>" grep -qF "<id>$id</id>" "$metainfo"
check "metainfo: launched by the desktop entry" \
    grep -qF "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo"
# What a distribution's checks say of the package, where their tools are installed.
if command -v appstreamcli >/dev/null 2>&1; then
    check "appstreamcli validate --no-net passes on the metainfo" \
        appstreamcli validate --no-net "$metainfo"
fi
if command -v desktop-file-validate >/dev/null 2>&1; then
    check "desktop-file-validate passes on the desktop entry" desktop-file-validate "$entry"
fi
if command -v lintian >/dev/null 2>&1; then
    lintian --no-tag-display-limit "$deb" >"$scratch/lintian.log" 2>&1
    # Each warning left is explained in the README.
    unexplained=$(grep -E '^[EW]: ' "$scratch/lintian.log" | awk '{ print $3 }' | sort -u |
        while read -r tag; do grep -qF "\`$tag\`" "$here/../../README.md" || echo "$tag"; done)
    check "lintian: no error" bash -c "! grep -q '^E: ' '$scratch/lintian.log'"
    check "  every warning explained in the README (${unexplained:-none unexplained})" \
        test -z "$unexplained"
    [ -z "$unexplained" ] && ! grep -q '^E: ' "$scratch/lintian.log" || cat "$scratch/lintian.log"
fi
check "desktop entry: Categories=Utility;MedicalSoftware;" \
    has_line "Categories=Utility;MedicalSoftware;"
png_size() { # width x height from a PNG's header
    python3 -c 'import struct,sys
d=open(sys.argv[1],"rb").read(24)
assert d[:8]==b"\x89PNG\r\n\x1a\n" and d[12:16]==b"IHDR"
print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1" 2>/dev/null
}
check "the icon is a 32x32 PNG" \
    test "$(png_size "$root/usr/share/icons/hicolor/32x32/apps/$id.png")" = 32x32
check "the unpacked link resolves to the program" test -x "$root/usr/bin/tarrowin"

# --- The unpacked program ----------------------------------------------------------------
x_session_start 1920x1080 || exit $?

# Window names are matched as regular expressions.
title="^Tarrowin \\(Alternating"
settings="Setttings"
stimulation="Alternating Bilateral Stimulation"

window_of() { xdotool search --all --onlyvisible --pid "$program_pid" --name "$1" 2>/dev/null | head -1; }
shown() { [ -n "$(window_of "$1")" ]; }
active_is() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$(window_of "$1")" ]; }
start_program() {
    SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb "$root/usr/bin/tarrowin" \
        >"$scratch/program.out" 2>"$scratch/program.err" &
    program_pid=$!
}
# Waits up to 10 s for the program to end and sets exit_status to its status (124: it did
# not end).
exit_status=""
wait_for_end() {
    exit_status=124
    wait_for 10 bash -c "! kill -0 $program_pid" || return 0
    wait "$program_pid"
    exit_status=$?
    program_pid=""
}

# Closing the title window ends the program.
start_program
check "the title window is shown" wait_for 20 shown "$title"
wmctrl -c "Tarrowin (Alternating"
wait_for_end
check "closing the title window ends the program with status 0 (was $exit_status)" \
    test "$exit_status" = 0

# Through to a running stimulation: a default file not found would be reported on the
# program's error output (a picture also in a window of its own).
start_program
check "the title window is shown again" wait_for 20 shown "$title"
wait_for 10 active_is "$title"
xdotool key Return
check "Continue leads to the settings window" wait_for 10 shown "$settings"
wait_for 10 active_is "$settings"
xdotool key Return
check "Enter there starts the stimulation" wait_for 10 shown "$stimulation"
sleep 2 # a few turns, each with its tone
check "no window tells of a picture not shown" bash -c "! xdotool search --name 'Picture not' >/dev/null 2>&1"
problems=$(grep -c '^tarrowin:' "$scratch/program.err")
check "no problem reported: the picture and tones were found beside the real program" \
    test "$problems" = 0
[ "$problems" = 0 ] || cat "$scratch/program.err"
wmctrl -c "$stimulation"
wait_for_end
check "closing the stimulation window ends the program with status 0 (was $exit_status)" \
    test "$exit_status" = 0

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All checks passed"
