#!/bin/bash
# The main job: builds the 32-bit, 64-bit and ARM64 Pathlift.dll and the shell host, then, under Wine (Debian's
# arm64 Wine through qemu-user-static for ARM64, where this machine allows it), plays Explorer with each DLL:
# registers it, hands its context-menu handler the shell's data object for the paths given (or a few sample files;
# the ARM64 run sees only paths inside build/arm64 and its own samples), invokes its menu entry, sets the options below on the dialog that opens, presses Copy and prints
# each step and then exactly what the clipboard holds.
# Usage: scripts/run.sh [--mode full|name|unc] [--short] [--no-extension] [--space-as-%20]
#        [--quote never|always|if-space] [--dir-separator '\' | '/' | '\\'] [--separator crlf|';'|space|tab]
#        [--case keep|upper|lower] [--interactive] [paths...]     (Linux paths are turned into Wine's drive paths)
# --interactive leaves the dialog to you on your own display ($DISPLAY) instead of pressing Copy.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# The set-up's own lines are kept, not shown: all of them when it fails, and its one-line reason when it could not
# install 32-bit Wine, in the "not run" line below.
setup_log="$(mktemp /tmp/pathlift-run-setup.XXXXXX)"
build_log="$(mktemp /tmp/pathlift-run-build.XXXXXX)"
trap 'rm -f "$build_log" "$setup_log"' EXIT
if ! bash scripts/setup.sh >"$setup_log" 2>&1; then
    cat "$setup_log" >&2
    exit 1
fi
PATHLIFT_SETUP_SAID="$(grep -m1 '^setup: NOT INSTALLED' "$setup_log" | sed 's/^setup: //')"
export PATHLIFT_SETUP_SAID
for preset in win32 win64 arm64; do
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target Pathlift shell_host; } >"$build_log" 2>&1; then
        tail -n 40 "$build_log" >&2
        echo "run: the $preset build failed" >&2
        exit 1
    fi
done
rm -f "$build_log"

interactive=0
for argument in "$@"; do
    [ "$argument" = --interactive ] && interactive=1
done
# The session below brings a virtual display of its own; a dialog left to the user goes to the user's display.
user_display="${DISPLAY:-}"
if [ "$interactive" = 1 ] && [ -z "$user_display" ]; then
    echo "run: --interactive needs a display to show the dialog on, and DISPLAY is not set" >&2
    exit 2
fi

source scripts/wine-session.sh
wine_session_start >/dev/null || exit 1
source scripts/wine-arm64.sh

winepath_w() {
    /usr/lib/wine/wine64 winepath -w "$1" 2>/dev/null
}

# Paths that exist on this machine are handed over as Wine sees them (Z:\...); flags and their values unchanged.
arguments=()
expect_value=0
for argument in "$@"; do
    if [ "$expect_value" = 1 ]; then
        arguments+=("$argument")
        expect_value=0
    elif [[ "$argument" == --mode || "$argument" == --quote || "$argument" == --dir-separator ||
            "$argument" == --case || "$argument" == --separator ]]; then
        arguments+=("$argument")
        expect_value=1
    elif [[ "$argument" != --* && -e "$argument" ]]; then
        arguments+=("$(winepath_w "$(realpath "$argument")")")
    else
        arguments+=("$argument")
    fi
done

status=0
for bits in 32 64 arm64; do
    build="build/win$bits"
    [ "$bits" = arm64 ] && build=build/arm64
    echo "== $bits$([ "$bits" != arm64 ] && echo -bit)"
    if [ "$bits" = 32 ] && [ "$WINE32_RUNS" != 1 ]; then
        echo "built build/win32/Pathlift.dll and build/win32/tools/shell_host.exe; not run: $WINE32_WHY"
        continue
    fi
    # The ARM64 Explorer's case, the one Windows on ARM has; the arm64 Wine shares the session's display.
    if [ "$bits" = arm64 ] && ! wine_arm64_start "$root/build/arm64" >/dev/null; then
        echo "built build/arm64/Pathlift.dll and build/arm64/tools/shell_host.exe; not run: $WINE_ARM64_WHY"
        continue
    fi
    dll="$(winepath_w "$root/$build/Pathlift.dll")"
    if [ "$interactive" = 1 ]; then
        DISPLAY="$user_display" scripts/wine-run "$bits" "$build/tools/shell_host.exe" --dll "$dll" \
            "${arguments[@]}" || status=1
    else
        scripts/wine-run "$bits" "$build/tools/shell_host.exe" --dll "$dll" "${arguments[@]}" || status=1
    fi
done
exit "$status"
