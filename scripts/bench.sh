#!/bin/bash
# The benchmarks, never run by the test command: the engine natively against memcpy (Google Benchmark, Release,
# no sanitizers), then each Pathlift.dll under Wine through the shell host for 1,000 to 1,000,000 generated paths,
# three runs each (the fastest kept), and what one right-click costs each DLL and the same DLL built from an
# earlier revision (PATHLIFT_BENCH_BASELINE, a git revision; default ec1ff93, the last one whose copy dialog ran on
# the invoking thread), and the soak program at its full counts. Writes docs/PERFORMANCE.md's tables and
# docs/performance.png.
# Usage: scripts/bench.sh [item counts...]      (default: 1000 10000 100000 1000000)
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/wine-session.sh
wine_session_private_mounts "$@"
counts=("$@")
[ "${#counts[@]}" -eq 0 ] && counts=(1000 10000 100000 1000000)

bash scripts/setup.sh libbenchmark-dev python3-matplotlib >/dev/null || exit 1
results="$root/build/bench-results"
mkdir -p "$results"

echo "== native: engine benchmarks"
{ cmake --preset bench >/dev/null && cmake --build --preset bench --target engine_bench >/dev/null; } || {
    echo "bench: the bench build failed" >&2
    exit 1
}
build/bench/bench/engine_bench --benchmark_min_time=0.5 --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_out="$results/engine.json" --benchmark_out_format=json ||
    exit 1

baseline="${PATHLIFT_BENCH_BASELINE:-ec1ff93}"
baseline_tree="$root/build/bench-baseline"
rm -rf "$baseline_tree" # a tree an interrupted run left behind
git worktree prune
git worktree add --detach "$baseline_tree" "$baseline" >/dev/null || exit 1
for preset in win32 win64; do
    echo "== $preset: build, and the DLL of $baseline"
    { cmake --preset "$preset" >/dev/null &&
        cmake --build --preset "$preset" --target Pathlift shell_host right_click_bench soak >/dev/null &&
        (cd "$baseline_tree" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target Pathlift >/dev/null); } || {
        echo "bench: the $preset build failed" >&2
        exit 1
    }
done

# The soak program at its full counts, one process per DLL; its lines go to soak.txt with the DLL's name in front.
run_soak() {
    : >"$results/soak.txt"
    local preset
    for preset in win32 win64; do
        [ "$preset" = win32 ] && [ "$WINE32_RUNS" != 1 ] && continue
        echo "== $preset: soak, full counts"
        wine_session_new_server # a server of its own for each width's soak: see wine_session_new_server
        (cd "build/$preset/tests" && wine ./soak.exe 1) | sed "s/^/$preset /" >>"$results/soak.txt" || {
            echo "bench: the soak failed for $preset" >&2
            exit 1
        }
    done
}

source scripts/wine-session.sh
wine_session_start || exit 1
: >"$results/wine.txt"
for preset in win32 win64; do
    if [ "$preset" = win32 ] && [ "$WINE32_RUNS" != 1 ]; then
        echo "== win32: NOT MEASURED: $WINE32_WHY"
        continue
    fi
    for n in "${counts[@]}"; do
        for run in 1 2 3; do
            echo "== $preset: $n items, run $run"
            log="$results/$preset-$n-$run.log"
            if ! wine "build/$preset/tools/shell_host.exe" --generate "$n" >"$log" 2>&1; then
                tail -n 5 "$log" >&2
                echo "bench: the shell host failed for $preset, $n items" >&2
                exit 1
            fi
            grep -E '^(time|working set|clipboard):' "$log" | sed "s/^/$preset $n $run /" >>"$results/wine.txt"
        done
    done
done

echo "baseline $baseline ($(git log -1 --format=%s "$baseline" | cut -c1-60)…)" >"$results/rightclick.txt"
for preset in win32 win64; do
    [ "$preset" = win32 ] && [ "$WINE32_RUNS" != 1 ] && continue
    for n in 1 1000 100000; do
        echo "== $preset: one right-click on $n items, before and after"
        # Both DLLs in one process, as a host loads them. The earlier one still loses a thread-local slot at every
        # load (1,000 of the 1,083 a process has free), so it comes last.
        wine "build/$preset/tools/right_click_bench.exe" "$n" \
            "after=$(/usr/lib/wine/wine64 winepath -w "$root/build/$preset/Pathlift.dll")" \
            "before=$(/usr/lib/wine/wine64 winepath -w "$baseline_tree/build/$preset/Pathlift.dll")" |
            sed "s/^/$preset /" >>"$results/rightclick.txt" || {
            echo "bench: the right-click bench failed for $preset, $n items" >&2
            exit 1
        }
    done
done

# Windows 11's right-click, where the classic entry steps aside for the packaged command: the 64-bit DLL only (the
# 32-bit one never steps aside), the bench run as explorer.exe in a prefix that reports Windows 11 (Wine takes the
# version from the NT keys when no Windows version is configured; Wine 8 has no name for Windows 11).
windows11_rows() {
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion' view n explorer status=0 build
    build="$(wine reg query "$key" /v CurrentBuildNumber /reg:64 2>/dev/null | awk '/CurrentBuildNumber/ { print $3 }' | tr -d '\r')"
    for view in 64 32; do
        wine reg add "$key" /v CurrentMajorVersionNumber /t REG_DWORD /d 10 /f /reg:$view >/dev/null 2>&1
        wine reg add "$key" /v CurrentMinorVersionNumber /t REG_DWORD /d 0 /f /reg:$view >/dev/null 2>&1
        wine reg add "$key" /v CurrentBuildNumber /d 22000 /f /reg:$view >/dev/null 2>&1
    done
    explorer="$(mktemp -d)"
    cp build/win64/tools/right_click_bench.exe "$explorer/explorer.exe"
    for n in 1 1000 100000; do
        echo "== win64: one right-click on $n items on Windows 11, the classic entry stepping aside"
        wine "$explorer/explorer.exe" "$n" --windows11 \
            "after=$(/usr/lib/wine/wine64 winepath -w "$root/build/win64/Pathlift.dll")" |
            sed "s/^/win64 /" >>"$results/rightclick.txt" || {
            echo "bench: the Windows 11 right-click bench failed for $n items" >&2
            status=1
            break
        }
    done
    rm -rf "$explorer"
    for view in 64 32; do
        wine reg delete "$key" /v CurrentMajorVersionNumber /f /reg:$view >/dev/null 2>&1
        wine reg delete "$key" /v CurrentMinorVersionNumber /f /reg:$view >/dev/null 2>&1
        wine reg add "$key" /v CurrentBuildNumber /d "${build:-7601}" /f /reg:$view >/dev/null 2>&1
    done
    return $status
}
windows11_rows || exit 1

run_soak
git worktree remove --force "$baseline_tree"

# Debian's own interpreter, which has its matplotlib.
/usr/bin/python3 scripts/bench_report.py "$results/engine.json" "$results/wine.txt" docs/PERFORMANCE.md docs/performance.png \
    "$results/rightclick.txt"
