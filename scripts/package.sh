#!/bin/bash
# Builds the 32- and 64-bit Pathlift.dll and what a Windows user downloads, into dist/:
#   Pathlift-<version>-x64.msi    both DLLs, each registered in its own registry view (64-bit Windows)
#   Pathlift-<version>-x86.msi    the 32-bit DLL alone (32-bit Windows)
#   Pathlift-<version>-portable.zip  both DLLs, README, LICENSE, install.cmd and uninstall.cmd
# The version is CMake's project(VERSION). --version a.b.c.d builds the same sources with another version, in
# build/package-<version>/, as the upgrade test does; --out puts the artifacts somewhere else.
# Usage: scripts/package.sh [--version a.b.c.d] [--out DIR]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

version=""
out="$root/dist"
while [ $# -gt 0 ]; do
    case "$1" in
    --version) version="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    *) echo "package: unknown argument $1" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh >/dev/null
build_log="$(mktemp /tmp/pathlift-package-build.XXXXXX)"
trap 'rm -f "$build_log"' EXIT
declare -A build_dirs
for preset in win32 win64; do
    if [ -z "$version" ]; then
        build_dirs[$preset]="build/$preset"
        configure=(cmake --preset "$preset")
    else
        build_dirs[$preset]="build/package-$version/$preset"
        configure=(cmake --preset "$preset" -B "${build_dirs[$preset]}" -DPATHLIFT_VERSION="$version")
    fi
    if ! { "${configure[@]}" && cmake --build "${build_dirs[$preset]}" --target Pathlift notify_shell; } \
        >"$build_log" 2>&1; then
        tail -n 40 "$build_log" >&2
        echo "package: the $preset build failed" >&2
        exit 1
    fi
done

# What each build says about itself: the version, the class id, the product codes and where its DLLs are. wixl
# finds files only by paths relative to the working directory.
relative() { realpath --relative-to="$root" "$1"; }
# shellcheck disable=SC1091
source "${build_dirs[win32]}/package.env"
dll32="$(relative "$PATHLIFT_DLL")"
notify32="$(relative "$PATHLIFT_NOTIFY_DLL")"
version32="$PATHLIFT_VERSION"
# shellcheck disable=SC1091
source "${build_dirs[win64]}/package.env"
if [ "$version32" != "$PATHLIFT_VERSION" ]; then
    echo "package: the 32-bit build is version $version32, the 64-bit one $PATHLIFT_VERSION" >&2
    exit 1
fi
dll64="$(relative "$PATHLIFT_DLL")"
notify64="$(relative "$PATHLIFT_NOTIFY_DLL")"

mkdir -p "$out"
out="$(cd "$out" && pwd)"
name="Pathlift-$PATHLIFT_VERSION"

# Builds one package; wixl cannot give a component a condition, so the approval values get theirs afterwards:
# they are written per machine only.
build_msi() {
    local arch="$1" product_code="$2" notify="$3"
    shift 3
    local msi="$out/$name-$arch.msi"
    wixl -a "$arch" -o "$msi" -D Arch="$arch" -D Version="$PATHLIFT_VERSION" -D ProductCode="$product_code" \
        -D UpgradeCode="$PATHLIFT_UPGRADE_CODE" -D ClassId="$PATHLIFT_CLASS_ID" -D NotifyDll="$notify" "$@" \
        installer/Pathlift.wxs
    msibuild "$msi" -q "UPDATE \`Component\` SET \`Condition\` = 'ALLUSERS'
        WHERE \`Component\` = 'Approval64' OR \`Component\` = 'Approval32'"
    echo "$msi"
}
build_msi x64 "$PATHLIFT_PRODUCT_CODE_X64" "$notify64" -D Dll64="$dll64" -D Dll32="$dll32"
build_msi x86 "$PATHLIFT_PRODUCT_CODE_X86" "$notify32" -D Dll32="$dll32"

stage="$(mktemp -d /tmp/pathlift-package.XXXXXX)"
trap 'rm -f "$build_log"; rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/x64" "$stage/$name/x86"
cp "$dll64" "$stage/$name/x64/Pathlift.dll"
cp "$dll32" "$stage/$name/x86/Pathlift.dll"
cp README.md LICENSE "$stage/$name/"
# Windows' cmd.exe reads batch files with CRLF line ends.
for script in install.cmd uninstall.cmd; do
    sed 's/$/\r/' "installer/$script" >"$stage/$name/$script"
done
rm -f "$out/$name-portable.zip"
(cd "$stage" && zip -q -r -X "$out/$name-portable.zip" "$name")
echo "$out/$name-portable.zip"
