#!/bin/bash
# Installs every Debian package the build and the tests need, and any further ones named as arguments (the
# benchmarks name theirs). Safe to run again: it only adds what is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang-format googletest clang-14 libclang-rt-14-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    wine wine32:i386 wine64 xvfb x11-utils
    fonts-noto-cjk fonts-wine imagemagick
    wixl msitools zip python3
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
update_lists() {
    local attempt
    for attempt in 1 2 3; do
        if as_root apt-get update -q >"$update_log" 2>&1; then
            return 0
        fi
        echo "setup: apt-get update failed (attempt $attempt of 3)"
        [ "$attempt" -lt 3 ] && sleep "$((attempt * 10))"
    done
    echo "setup: going on with the package lists apt has; unreadable: $(unreadable_indexes)"
}
unreadable_indexes() {
    grep -oE '^(E: Failed to fetch|Err:[0-9]+) [^ ]+( [^ ]+)*' "$update_log" | sed -E 's/^(E: Failed to fetch|Err:[0-9]+) //' |
        sort -u | tr '\n' ' '
}

if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    update_lists
    if ! as_root apt-get install -y -q --no-install-recommends "${missing[@]}"; then
        echo "setup: installing failed; the package lists apt could not read: $(unreadable_indexes)" >&2
        exit 1
    fi
elif [ -n "${need_update:-}" ]; then
    update_lists
fi
echo "setup: all packages present"
