#!/bin/bash
# The main job: builds the 32-bit, 64-bit and ARM64 Pathlift.dll and the shell host, then, under Wine, plays Explorer
# with each DLL: registers it, hands its context-menu handler the shell's data object for the paths given (or a few
# sample files), invokes its menu entry, sets the options below on the dialog that opens, presses Copy and prints each
# step and then exactly what the clipboard holds. 32-bit programs run as scripts/wine-i386.sh finds it can (natively
# or through qemu, with the host's 32-bit Wine or an i386 root's); ARM64 ones under Debian's arm64 Wine through qemu.
# The 32-bit run sees paths under /tmp, /home and this tree when its Wine comes from the root; the ARM64 run only
# paths inside build/arm64 and its own samples.
# Usage: scripts/run.sh [--mode full|name|unc] [--short] [--no-extension] [--space-as-%20]
#        [--quote never|always|if-space] [--dir-separator '\' | '/' | '\\'] [--separator crlf|';'|space|tab]
#        [--case keep|upper|lower] [--interactive] [paths...]     (Linux paths are turned into Wine's drive paths)
# --interactive leaves the dialog to you on your own display ($DISPLAY) instead of pressing Copy.
# A DLL that cannot be built or run is one line saying why, and the others still run. Exits 0 when the 64-bit DLL
# ran and every DLL either ran or said why not; 1 when the 64-bit DLL could not run or a DLL that ran failed.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/wine-session.sh
wine_session_private_mounts "$@"

# Of the set-up, only its own lines are shown as they come (what it does, how long it took, why a step could not be
# done); all of its output when it fails.
setup_log="$(mktemp /tmp/pathlift-run-setup.XXXXXX)"
build_log="$(mktemp /tmp/pathlift-run-build.XXXXXX)"
trap 'rm -f "$build_log" "$setup_log"' EXIT
started=$(date +%s)
echo "run: set-up (installs what is missing; the first run on a new machine takes a few minutes)"
if ! bash scripts/setup.sh 2>&1 | tee "$setup_log" | grep --line-buffered -E '^(setup|toolchain-arm64): '; then
    if [ "${PIPESTATUS[0]}" -ne 0 ]; then
        cat "$setup_log" >&2
        exit 1
    fi
fi
echo "run: set-up took $(($(date +%s) - started)) s"
export PATHLIFT_SETUP_DONE=1

declare -A skipped
for preset in win32 win64 arm64; do
    started=$(date +%s)
    echo "run: building the $preset DLL and shell host"
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target Pathlift shell_host; } >"$build_log" 2>&1; then
        # CMake's own message (its lines joined), else the compiler's first error.
        why="$(awk '/^CMake Error/ { grab = 1; next } grab && (/^ *$/ || /^Call Stack/) { if (text != "") exit; next }
            grab { sub(/^ +/, ""); text = text (text != "" ? " " : "") $0 } END { print text }' "$build_log")"
        [ -n "$why" ] || why="$(grep -m1 -E 'error:|FAILED' "$build_log" | cut -c1-300)"
        skipped[$preset]="not built: ${why:-cmake said nothing more}"
        echo "run: the $preset build failed after $(($(date +%s) - started)) s"
        continue
    fi
    echo "run: built in $(($(date +%s) - started)) s"
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

started=$(date +%s)
echo "run: starting Wine (a virtual display, a wineserver, a fresh prefix)"
wine_session_start >/dev/null || exit 1
echo "run: Wine started in $(($(date +%s) - started)) s"
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
ran64=0
for bits in 32 64 arm64; do
    build="build/win$bits" preset="win$bits"
    [ "$bits" = arm64 ] && build=build/arm64 preset=arm64
    echo "== $bits$([ "$bits" != arm64 ] && echo -bit)"
    if [ -n "${skipped[$preset]:-}" ]; then
        echo "${skipped[$preset]}"
        continue
    fi
    if [ "$bits" = 32 ] && [ "$WINE32_RUNS" != 1 ]; then
        echo "built $build/Pathlift.dll and $build/tools/shell_host.exe; not run: $WINE32_WHY"
        continue
    fi
    # The ARM64 Explorer's case, the one Windows on ARM has; the arm64 Wine shares the session's display.
    if [ "$bits" = arm64 ] && ! wine_arm64_start "$root/build/arm64" >/dev/null; then
        echo "built $build/Pathlift.dll and $build/tools/shell_host.exe; not run: $WINE_ARM64_WHY"
        continue
    fi
    case "$bits" in
        32) echo "(32-bit programs $WINE32_ROUTE)" ;;
        arm64) echo "(ARM64 programs ran under emulation, $WINE_ARM64_QEMU)" ;;
    esac
    dll="$(winepath_w "$root/$build/Pathlift.dll")"
    if [ "$interactive" = 1 ]; then
        DISPLAY="$user_display" scripts/wine-run "$bits" "$build/tools/shell_host.exe" --dll "$dll" \
            "${arguments[@]}"
    else
        scripts/wine-run "$bits" "$build/tools/shell_host.exe" --dll "$dll" "${arguments[@]}"
    fi
    result=$?
    if [ "$result" -ne 0 ]; then
        echo "run: the $bits DLL's run failed (exit status $result)"
        status=1
    elif [ "$bits" = 64 ]; then
        ran64=1
    fi
done
[ "$ran64" = 1 ] || status=1
exit "$status"
