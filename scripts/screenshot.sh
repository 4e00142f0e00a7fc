#!/bin/bash
# The README's pictures: builds the 64-bit Pathlift.dll and the shell host, then, under Wine on a virtual display
# with the Japanese font of the test session, lets the host show the context menu as a real popup menu and open
# the copy dialog, and photographs both with ImageMagick's import:
#   docs/context-menu.png   the menu with the handler's entry
#   docs/dialog-100.png     the dialog at 100 % scaling (96 dpi)
#   docs/dialog-150.png     the dialog at 150 % scaling (144 dpi)
# Usage: scripts/screenshot.sh
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh >/dev/null || exit 1
build_log="$(mktemp /tmp/pathlift-shots-build.XXXXXX)"
host_log="$(mktemp /tmp/pathlift-shots-host.XXXXXX)"
trap 'rm -f "$build_log" "$host_log"' EXIT
if ! { cmake --preset win64 && cmake --build --preset win64 --target Pathlift shell_host; } >"$build_log" 2>&1; then
    tail -n 40 "$build_log" >&2
    echo "screenshot: the build failed" >&2
    exit 1
fi

source scripts/wine-session.sh
wine_session_start 64 >/dev/null || exit 1
# The session's own EXIT trap stops Wine and Xvfb; the logs go with it.
trap 'rm -f "$build_log" "$host_log"; wine_session_stop' EXIT

wine64() {
    /usr/lib/wine/wine64 "$@" 2>/dev/null
}
dll="$(wine64 winepath -w "$root/build/win64/Pathlift.dll")"
mkdir -p docs

# Waits until the host has written the line, then for the screen to be painted.
wait_for() {
    for _ in $(seq 200); do
        grep -q "^$1" "$host_log" && { sleep 1; return 0; }
        kill -0 "$host_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "screenshot: the host never said \"$1\":" >&2
    cat "$host_log" >&2
    return 1
}

# The whole screen, cut down to what is on it: the root window of the virtual display is black.
photograph() {
    import -window root -display "$DISPLAY" png:- | convert png:- -trim +repage "docs/$1"
    echo "screenshot: docs/$1 ($(identify -format '%w x %h' "docs/$1"))"
}

# One run of the host at a resolution: Wine reads LogPixels when a process starts.
run_host() {
    wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
    : >"$host_log"
    scripts/wine-run 64 build/win64/tools/shell_host.exe --dll "$dll" --saved-options --show 4000 >"$host_log" 2>&1 &
    host_pid=$!
}

status=0
run_host 96
{ wait_for "menu shown" && photograph context-menu.png && wait_for "dialog shown" && photograph dialog-100.png; } ||
    status=1
wait "$host_pid" || status=1

run_host 144
{ wait_for "dialog shown" && photograph dialog-150.png; } || status=1
wait "$host_pid" || status=1
exit "$status"
