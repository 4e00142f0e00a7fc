#!/bin/bash
# Builds the 32- and 64-bit Pathlift.dll and what a Windows user downloads, into dist/:
#   Pathlift-<version>-x64.msi    both DLLs, each registered in its own registry view (64-bit Windows)
#   Pathlift-<version>-x86.msi    the 32-bit DLL alone (32-bit Windows)
#   Pathlift-<version>-portable.zip  both DLLs, README, LICENSE, install.cmd and uninstall.cmd
#   Pathlift-<version>-sparse.msix  the sparse package that puts the Explorer command into Windows 11's top-level
#                                 context menu; the x64 MSI installs and registers it only when it is signed
# With PATHLIFT_SIGN_PFX (a PKCS#12 file), PATHLIFT_SIGN_PASSWORD and optionally PATHLIFT_SIGN_TIMESTAMP (a time-stamp
# server's URL) the artifacts are signed with that certificate; without them they are not.
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
    if ! { "${configure[@]}" && cmake --build "${build_dirs[$preset]}" --target Pathlift notify_shell sparse_package_action; } \
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
sparse_action64="$(relative "$PATHLIFT_SPARSE_ACTION_DLL")"

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

# ---- the sparse package for Windows 11's top-level context menu
# Its manifest names the publisher, which must be the signing certificate's subject; unsigned, Windows registers no
# package, so the x64 MSI carries and registers it only when it is signed. The unsigned one is still written, with a
# placeholder publisher, for inspection and the tests.
sparse="$out/$name-sparse.msix"
sparse_msi_args=()
if [ -n "${PATHLIFT_SIGN_PFX:-}" ]; then
    if ! publisher="$(python3 scripts/sparse_package.py publisher "$PATHLIFT_SIGN_PFX")"; then
        echo "package: cannot read the certificate's subject from $PATHLIFT_SIGN_PFX" >&2
        exit 1
    fi
else
    publisher="CN=Pathlift developers"
fi
python3 scripts/sparse_package.py build --version "$PATHLIFT_VERSION" --publisher "$publisher" \
    --class-id "$PATHLIFT_COMMAND_CLASS_ID" --out "$sparse"
if [ -n "${PATHLIFT_SIGN_PFX:-}" ]; then
    # Signs in place with osslsigncode 2.7 or later, the first to sign APPX/MSIX packages. (Becomes a call to the
    # script's shared signing function when both meet.)
    signed="$sparse.signed"
    sign=(osslsigncode sign -pkcs12 "$PATHLIFT_SIGN_PFX" -readpass /dev/stdin -in "$sparse" -out "$signed")
    [ -n "${PATHLIFT_SIGN_TIMESTAMP:-}" ] && sign+=(-ts "$PATHLIFT_SIGN_TIMESTAMP")
    if ! printf '%s' "${PATHLIFT_SIGN_PASSWORD:-}" | "${sign[@]}" >"$build_log" 2>&1; then
        cat "$build_log" >&2
        echo "package: signing $sparse failed (osslsigncode 2.7 or later signs MSIX packages)" >&2
        rm -f "$signed"
        exit 1
    fi
    mv "$signed" "$sparse"
    sparse_msi_args=(-D SparsePackage="$(relative "$sparse")" -D SparseActionDll="$sparse_action64"
        -D FamilyName="$(python3 scripts/sparse_package.py family-name "$publisher")")
fi
echo "$sparse"

build_msi x64 "$PATHLIFT_PRODUCT_CODE_X64" "$notify64" -D Dll64="$dll64" -D Dll32="$dll32" "${sparse_msi_args[@]}"
if [ "${#sparse_msi_args[@]}" -gt 0 ]; then
    # The sparse package's component is for Windows 11 only, and its family name goes to HKLM per machine and to
    # HKCU per user: wixl can write neither the component's condition nor HKMU's root (-1 in the Registry table).
    msibuild "$out/$name-x64.msi" -q "UPDATE \`Component\` SET \`Condition\` = 'PATHLIFT_WINDOWS_BUILD >= 22000'
        WHERE \`Component\` = 'SparsePackage'" \
        -q "UPDATE \`Registry\` SET \`Root\` = -1 WHERE \`Component_\` = 'SparsePackage'"
fi
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
