#!/bin/bash
# Installs what is missing, then builds every preset and runs all its tests: natively with sanitizers, the 32- and
# 64-bit Windows builds under Wine with a virtual display (32-bit Wine natively or through qemu, from the host or an
# i386 root: scripts/wine-i386.sh), and the ARM64 build under Debian's arm64 Wine through qemu
# (scripts/wine-arm64.sh); then checks the scripts' own rules, runs each fuzz target for a short while, builds the
# Windows packages and installs, upgrades and removes them under Wine. Exits non-zero if anything failed; the summary
# says for each Windows width how its programs ran, or why they did not.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source scripts/wine-session.sh
wine_session_private_mounts "$@"
started_all=$(date +%s)

bash scripts/setup.sh || exit 1
export PATHLIFT_SETUP_DONE=1
wine_session_start || exit 1
source scripts/wine-arm64.sh

failed=()

echo "== format check"
mapfile -t sources < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' 2>/dev/null || find engine dialog shellext tests tools -name '*.cpp' -o -name '*.h')
if ! clang-format --dry-run -Werror "${sources[@]}"; then
    failed+=("format")
fi

declare -A summaries routes
routes[win64]="ran natively"
routes[win32]="$WINE32_ROUTE"
[ -n "${PATHLIFT_I386_EMULATED:-}" ] && routes[win32]+="; the soak at a hundredth of the benchmark's counts"
for preset in native win32 win64 arm64; do
    echo "== $preset: configure and build"
    if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"; }; then
        failed+=("$preset build")
        summaries[$preset]="build failed"
        continue
    fi
    if [ "$preset" = win32 ] && [ "$WINE32_RUNS" != 1 ]; then
        # Built and linked above, but Wine's 32-bit loader cannot run here: say so, loudly.
        echo "== win32: tests NOT RUN: $WINE32_WHY"
        summaries[$preset]="built; tests NOT RUN: $WINE32_WHY"
        continue
    fi
    # The arm64 Wine stays up for the package test's ARM64 install, and stops when this script exits.
    if [ "$preset" = arm64 ] && ! wine_arm64_start "$root/build/arm64"; then
        echo "== arm64: tests NOT RUN: $WINE_ARM64_WHY"
        summaries[$preset]="built; tests NOT RUN: $WINE_ARM64_WHY"
        routes[arm64]="not run: $WINE_ARM64_WHY"
        continue
    fi
    [ "$preset" = arm64 ] && routes[arm64]="ran under emulation ($WINE_ARM64_QEMU), Debian's arm64 Wine in build/wine-arm64; the soak at a hundredth of the benchmark's counts"
    # Each width's tests in a wineserver of their own: see wine_session_new_server.
    if [ "$preset" = win32 ] || [ "$preset" = win64 ]; then
        wine_session_new_server
    fi
    echo "== $preset: tests"
    log="$(mktemp)"
    started=$(date +%s)
    ctest --preset "$preset" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    summaries[$preset]="$(grep -E '^[0-9]+% tests passed' "$log" || echo "no summary")"
    summaries[$preset]+=" in $(($(date +%s) - started)) s"
    rm -f "$log"
    if [ "$status" -ne 0 ]; then
        failed+=("$preset tests")
    fi
done

echo "== scripts: the set-up's and the main job's own rules"
if bash tests/scripts/scripts_test.sh; then
    summaries[scripts]="the set-up past a failing update, the main job without the ARM64 toolchain: passed"
else
    summaries[scripts]="failed"
    failed+=("scripts")
fi

# Each fuzz target for a short while from its seed corpus; a finding fails the run and its input is kept.
fuzz_seconds="${PATHLIFT_FUZZ_SECONDS:-20}"
echo "== fuzz: configure, build and run each target for $fuzz_seconds s"
if ! { cmake --preset fuzz >/dev/null && cmake --build --preset fuzz; }; then
    failed+=("fuzz build")
    summaries[fuzz]="build failed"
else
    summaries[fuzz]="every target ran $fuzz_seconds s without a finding"
    for corpus in fuzz/corpus/*/; do
        target="$(basename "$corpus")"
        work="$(mktemp -d)"
        # The CF_HDROP reader needs blocks longer than a whole path; the others need far less.
        max_len=8192
        [ "$target" = drop_files ] && max_len=70000
        echo "-- ${target}_fuzz"
        if nice -n 10 "build/fuzz/fuzz/${target}_fuzz" -max_total_time="$fuzz_seconds" -max_len="$max_len" \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" "$work" "$corpus" >"$work/log" 2>&1; then
            grep -E '^Done|average_exec_per_sec' "$work/log"
            rm -rf "$work"
        else
            tail -n 30 "$work/log"
            echo "-- ${target}_fuzz found a fault; the input is kept in $work"
            failed+=("${target}_fuzz")
            summaries[fuzz]="a target found a fault"
        fi
    done
fi

echo "== packages: build, install, upgrade and remove under Wine"
started=$(date +%s)
if bash tests/packages/package_test.sh; then
    summaries[packages]="all checks passed in $(($(date +%s) - started)) s"
else
    summaries[packages]="failed"
    failed+=("packages")
fi

echo
echo "== summary"
for preset in native win32 win64 arm64 scripts fuzz packages; do
    echo "$preset: ${summaries[$preset]:-not run}"
done
for preset in win32 win64 arm64; do
    echo "$preset programs: ${routes[$preset]:-not run: the build failed}"
done
echo "whole run: $(($(date +%s) - started_all)) s"
if [ "${#failed[@]}" -ne 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all presets passed"
