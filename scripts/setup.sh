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

if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -q
    as_root apt-get install -y -q --no-install-recommends "${missing[@]}"
elif [ -n "${need_update:-}" ]; then
    as_root apt-get update -q
fi
echo "setup: all packages present"
