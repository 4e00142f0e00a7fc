#!/bin/bash
# The set-up's and the main job's own rules, as a new machine meets them:
# 1. an `apt-get update` that fails (a stale index on the mirror) stops neither the set-up nor its toolchain step,
#    and the reason the toolchain could not be built is the set-up's one line about it;
# 2. the main job without the ARM64 toolchain still runs the 64-bit DLL, prints its clipboard text, says in one line
#    why ARM64 did not run, and exits 0.
# Run by scripts/test.sh after the presets are built (the second case needs the win64 build and root for unshare).
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d /tmp/pathlift-scripts-test.XXXXXX)"
trap 'rm -rf "$work"' EXIT
checks=0 failures=0

expect() {
    checks=$((checks + 1))
    if [ "$2" != "$3" ]; then
        failures=$((failures + 1))
        printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    fi
}

# ---- 1. the set-up with a stand-in apt-get whose update fails, in a copy of the scripts with no toolchain built
mkdir -p "$work/tree/scripts" "$work/bin" "$work/sources"
cp "$root/scripts/setup.sh" "$root/scripts/toolchain-arm64.sh" "$work/tree/scripts/"
cat >"$work/bin/apt-get" <<EOF
#!/bin/sh
# apt-get as a mirror with a stale index answers: the update fails, and no source package can be fetched.
echo "\$*" >>"$work/apt-calls"
case "\$1" in
    update)
        echo "Err:1 http://mirror.example bookworm-security/main i386 Packages"
        echo "E: Failed to fetch http://mirror.example/i386/Packages.xz  File has unexpected size. Mirror sync in progress?"
        exit 100 ;;
    indextargets) exit 0 ;;
    source) echo "E: Unable to find a source package for mingw-w64=10.0.0-3"; exit 100 ;;
    *) echo "E: the stand-in does not \$1"; exit 100 ;;
esac
EOF
chmod +x "$work/bin/apt-get"
# Every package is present (the test command ran the real set-up first), so only the toolchain step meets apt.
output="$(PATH="$work/bin:$PATH" PATHLIFT_APT_SOURCES_DIR="$work/sources" PATHLIFT_SETUP_DONE='' \
    bash "$work/tree/scripts/setup.sh" 2>/dev/null)"
expect "the set-up succeeds although apt-get update failed" 0 "$?"
expect "the toolchain step goes on past the failed update to fetch its sources" "update -q|source --download-only -q mingw-w64=10.0.0-3 llvm-toolchain-14=1:14.0.6-12" \
    "$(grep -v '^indextargets' "$work/apt-calls" | paste -sd '|')"
expect "the update's failure is said, and that the step goes on" \
    "toolchain-arm64: apt-get update failed; going on with the lists apt has" \
    "$(grep -F 'apt-get update failed' <<<"$output")"
expect "the set-up says once why the toolchain was not built" \
    "setup: the ARM64 toolchain was NOT BUILT: fetch failed: E: Unable to find a source package for mingw-w64=10.0.0-3 (its log is $work/tree/build/toolchain-arm64/logs/fetch.log)" \
    "$(grep -F 'NOT BUILT' <<<"$output")"
expect "the deb-src list goes where it is told" "Types: deb-src" "$(head -n 1 "$work/sources/pathlift-sources.sources")"

# ---- 2. the main job with the ARM64 toolchain out of sight (an empty folder mounted over it for this process)
if [ "$(id -u)" -ne 0 ] || ! unshare --mount --propagation private true 2>/dev/null; then
    echo "NOT RUN: the main job without the toolchain (needs root and unshare to hide the toolchain)"
else
    mkdir -p "$work/empty"
    output="$(cd "$root" && PATHLIFT_SETUP_DONE=1 unshare --mount --propagation private bash -c '
        [ -d build/toolchain-arm64 ] && mount --bind "$1" build/toolchain-arm64
        exec bash scripts/run.sh --separator ";"' sh "$work/empty" 2>&1)"
    status=$?
    expect "the main job exits 0 without the ARM64 toolchain" 0 "$status"
    expect "the 64-bit DLL's clipboard text is printed" \
        'C:\users\root\Temp\Pathlift samples\report 2026.txt;C:\users\root\Temp\Pathlift samples\日本語のファイル.docx;C:\users\root\Temp\Pathlift samples\My Folder;C:\users\root\Temp\Pathlift samples\archive.tar.gz' \
        "$(sed -n '/^== 64-bit$/,/^== arm64$/p' <<<"$output" | sed -n '/^clipboard text:$/{n;p}' | tr -d '\r')"
    expect "ARM64 is one line saying why" \
        "not built: No ARM64 toolchain in $root/cmake/../build/toolchain-arm64: run scripts/setup.sh" \
        "$(sed -n '/^== arm64$/,$p' <<<"$output" | tail -n +2)"
    [ "$status" -eq 0 ] || tail -n 30 <<<"$output"
fi

echo "scripts: $((checks - failures)) of $checks checks passed"
[ "$failures" -eq 0 ]
