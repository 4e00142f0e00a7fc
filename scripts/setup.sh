#!/bin/bash
# Installs every Debian package the build and the tests need, and any further ones named as arguments (the
# benchmarks name theirs), then builds the ARM64 toolchain from Debian's sources (scripts/toolchain-arm64.sh). Safe
# to run again: it only adds what is missing. A package list the mirror serves stale never stops it while the lists
# apt has will do; a step that cannot be done says why in one line that starts with "setup:", which is what the main
# job shows of the set-up, beside one line for each long step and how long it took.
set -euo pipefail

# A script that already ran the set-up (the test command, for the package script it calls) does not pay twice.
if [ "${PATHLIFT_SETUP_DONE:-}" = 1 ] && [ $# -eq 0 ]; then
    exit 0
fi

packages=(
    cmake ninja-build g++ clang-format googletest clang-14 libclang-rt-14-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    wine wine32:i386 wine64 xvfb x11-utils
    fonts-noto-cjk fonts-wine imagemagick
    wixl msitools zip python3 python3-jsonschema python3-yaml osslsigncode openssl
    lld-14 llvm-14 dpkg-dev debootstrap
    "$@"
)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    need_update=1
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

# A mirror in mid-sync serves an index that does not match its Release file; apt then fails the whole update even
# when the install needs nothing from that index. Try a few times, then go on with the lists apt has, and keep the
# names of the indexes it could not read for the message should the install fail.
update_log="$(mktemp /tmp/pathlift-apt-update.XXXXXX)"
trap 'rm -f "$update_log"' EXIT
unreadable_indexes() {
    sed -nE 's/^Err:[0-9]+ (.*)$/\1/p' "$update_log" | sort -u | paste -sd ';' | sed 's/;/; /g'
}
update_lists() {
    local attempt
    for attempt in 1 2 3; do
        if as_root apt-get update -q >"$update_log" 2>&1; then
            return 0
        fi
        echo "setup: apt-get update failed (attempt $attempt of 3): $(unreadable_indexes)"
        if [ "$attempt" -lt 3 ]; then sleep "$((attempt * 10))"; fi
    done
    echo "setup: going on with the package lists apt has"
}

if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${#missing[@]} Debian packages: ${missing[*]}"
    started=$(date +%s)
    export DEBIAN_FRONTEND=noninteractive
    update_lists
    if ! as_root apt-get install -y -q --no-install-recommends "${missing[@]}"; then
        # The i386 indexes are the ones seen stale most often, and only 32-bit Wine needs them: without it the
        # 32-bit programs are built but not run, and the test command says so.
        native=() foreign=()
        for p in "${missing[@]}"; do
            if [[ "$p" == *:i386 ]]; then foreign+=("$p"); else native+=("$p"); fi
        done
        if [ "${#foreign[@]}" -eq 0 ] || { [ "${#native[@]}" -gt 0 ] &&
            ! as_root apt-get install -y -q --no-install-recommends "${native[@]}"; }; then
            echo "setup: installing failed; package lists apt could not read: $(unreadable_indexes)" >&2
            exit 1
        fi
        echo "setup: NOT INSTALLED: ${foreign[*]} (package lists apt could not read: $(unreadable_indexes));" \
            "32-bit programs take Debian's 32-bit Wine from an i386 root instead (made once by the first run)"
    fi
    echo "setup: Debian packages installed in $(($(date +%s) - started)) s"
elif [ -n "${need_update:-}" ]; then
    update_lists
fi
# Two packages are taken from bookworm-backports, Debian's own signed suite, since bookworm's are too old:
# osslsigncode signs MSIX packages from 2.7 on, but 2.7 and 2.8 wrote a central directory that Windows refuses (its
# release notes say so): 2.9 or later; bookworm has 2.5. qemu runs 32-bit Wine where the kernel cannot: bookworm's
# 7.2 takes about a minute for each Wine program (Wine probes the address space in 65,000 small mappings) and crashed
# in threaded tests; 10.0 (package qemu-user, which holds the static binaries from 9.1 on) starts one in 0.3 s.
osslsigncode_signs_msix() {
    local version
    version="$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')"
    [ -n "$version" ] && [ "$(printf '%s\n' 2.9 "$version" | sort -V | head -n 1)" = 2.9 ]
}
qemu_is_recent() {
    local version
    version="$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null)"
    [ -n "$version" ] && dpkg --compare-versions "$version" ge 1:10 && [ -x /usr/bin/qemu-i386 ]
}
backported=()
osslsigncode_signs_msix || backported+=(osslsigncode)
qemu_is_recent || backported+=(qemu-user qemu-user-static)
if [ "${#backported[@]}" -gt 0 ]; then
    backports=/etc/apt/sources.list.d/pathlift-backports.sources
    if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        # The backports suite lives on the mirror the machine's main suite comes from.
        mirror="$({ awk '$1 == "deb" && $3 == "bookworm" { print $2 }' /etc/apt/sources.list 2>/dev/null
            cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk 'BEGIN { RS = "" }
                /Suites:[^\n]* bookworm( |\n|$)/ && match($0, /URIs: [^ \n]+/) { print substr($0, RSTART + 6, RLENGTH - 6) }'
        } | head -n 1)"
        printf '%s\n' 'Types: deb' "URIs: $mirror" 'Suites: bookworm-backports' 'Components: main' \
            'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | as_root tee "$backports" >/dev/null
    fi
    echo "setup: installing ${backported[*]} from bookworm-backports"
    started=$(date +%s)
    export DEBIAN_FRONTEND=noninteractive
    update_lists
    as_root apt-get install -y -q --no-install-recommends -t bookworm-backports "${backported[@]}" ||
        echo "setup: installing ${backported[*]} from bookworm-backports failed"
    if ! osslsigncode_signs_msix; then
        echo "setup: no osslsigncode 2.9 or later (MSIX signing); the package lists apt could not read: $(unreadable_indexes)" >&2
        exit 1
    fi
    if ! qemu_is_recent; then
        echo "setup: NOT INSTALLED: qemu-user 10 (package lists apt could not read: $(unreadable_indexes));" \
            "32-bit programs run only where the kernel executes them, ARM64 ones not at all"
    fi
    echo "setup: bookworm-backports packages done in $(($(date +%s) - started)) s"
fi
if [ -z "${foreign:-}" ]; then
    echo "setup: all packages present"
fi
# Built once into build/; without it the arm64 preset does not configure, and the scripts say so. Its own lines are
# shown as they come; the one that says why it stopped is said again as the set-up's.
toolchain_log="$(mktemp /tmp/pathlift-toolchain.XXXXXX)"
trap 'rm -f "$update_log" "$toolchain_log"' EXIT
if ! bash "$(dirname "$0")/toolchain-arm64.sh" 2>&1 | tee "$toolchain_log"; then
    reason="$(sed -n 's/^toolchain-arm64: \(.* failed.*\)$/\1/p' "$toolchain_log" | tail -n 1)"
    echo "setup: the ARM64 toolchain was NOT BUILT: ${reason:-see the lines above}"
fi
