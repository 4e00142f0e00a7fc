#!/bin/bash
# The main job: builds the 32- and 64-bit DLLs and their tools, then, under Wine, copies the paths given (or a few
# sample files) the way a user would and prints what the clipboard holds.
# Usage: scripts/run.sh [--mode full|name|unc] [--short] [--no-extension] [--space-as-%20]
#        [--quote never|always|if-space] [--dir-separator '\' | '/' | '\\'] [--separator crlf|';'|space|tab]
#        [--case keep|upper|lower] [paths...]     (Linux paths are turned into Wine's drive paths)
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh >/dev/null || exit 1
for preset in win32 win64; do
    { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target Pathlift copy_paths >/dev/null; } ||
        { echo "run: the $preset build failed" >&2; exit 1; }
done

source scripts/wine-session.sh
wine_session_start >/dev/null || exit 1

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
        arguments+=("$(/usr/lib/wine/wine64 winepath -w "$(realpath "$argument")" 2>/dev/null)")
    else
        arguments+=("$argument")
    fi
done

status=0
for bits in 32 64; do
    echo "== $bits-bit"
    if [ "$bits" = 32 ] && [ "$WINE32_RUNS" != 1 ]; then
        echo "built build/win32/Pathlift.dll; not run: this machine's kernel cannot execute 32-bit programs"
        continue
    fi
    scripts/wine-run "$bits" "build/win$bits/copy_paths.exe" "${arguments[@]}" || status=1
done
exit "$status"
