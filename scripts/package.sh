#!/bin/bash
# Builds the 32-bit, 64-bit and ARM64 Pathlift.dll and what a Windows user downloads, into dist/:
#   Pathlift-<version>-x64.msi    both DLLs, each registered in its own registry view (64-bit Windows)
#   Pathlift-<version>-arm64.msi  the ARM64 DLL and the 32-bit one, each in its own registry view (Windows on ARM)
#   Pathlift-<version>-x86.msi    the 32-bit DLL alone (32-bit Windows)
#   Pathlift-<version>-portable.zip  all three DLLs, README, LICENSE, install.cmd and uninstall.cmd
#   Pathlift-<version>-sparse.msix, Pathlift-<version>-sparse-arm64.msix  the sparse packages that put the Explorer
#                                 command into Windows 11's top-level context menu, for the x64 and the ARM64 DLL;
#                                 the x64 and arm64 MSIs install and register theirs only when it is signed
#   Pathlift-<version>-x64.dll.debug, Pathlift-<version>-arm64.dll.debug, Pathlift-<version>-x86.dll.debug  the DLLs'
#                                  symbols, which the shipped DLLs do not carry (each DLL names its file in a
#                                  .gnu_debuglink section)
# The version is CMake's project(VERSION). --version a.b.c.d builds the same sources with another version, in
# build/package-<version>/, as the upgrade test does; --out puts the artifacts somewhere else.
#
# Signing: with PATHLIFT_SIGN_PFX (a PKCS#12 file with the certificate and its key) and PATHLIFT_SIGN_PASSWORD, both
# DLLs (before they go into the packages and the zip), the packages' custom-action DLLs, the sparse package and both
# MSI packages are signed with osslsigncode and time-stamped by PATHLIFT_SIGN_TIMESTAMP, an RFC 3161 server's URL.
# Without a time stamp a signature stops verifying when the certificate expires, so the script refuses to sign
# without one unless PATHLIFT_SIGN_TIMESTAMP=none says so. Without PATHLIFT_SIGN_PFX the artifacts are unsigned.
# Usage: scripts/package.sh [--version a.b.c.d] [--out DIR] [--release-url URL-TEMPLATE]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

version=""
out="$root/dist"
release_url="${PATHLIFT_RELEASE_URL:-}"
while [ $# -gt 0 ]; do
    case "$1" in
    --version) version="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --release-url) release_url="$2"; shift 2 ;;
    *) echo "package: unknown argument $1" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh >/dev/null
if [ -n "${PATHLIFT_SIGN_PFX:-}" ] && [ ! -r "$PATHLIFT_SIGN_PFX" ]; then
    echo "package: PATHLIFT_SIGN_PFX names $PATHLIFT_SIGN_PFX, which cannot be read" >&2
    exit 1
fi
if [ -n "${PATHLIFT_SIGN_PFX:-}" ] && [ -z "${PATHLIFT_SIGN_TIMESTAMP:-}" ]; then
    echo "package: PATHLIFT_SIGN_PFX without PATHLIFT_SIGN_TIMESTAMP: the signatures would stop verifying when the certificate expires; name an RFC 3161 time-stamp server, or set PATHLIFT_SIGN_TIMESTAMP=none to sign without one" >&2
    exit 1
fi
# The sparse package is signed by osslsigncode: 2.7 and 2.8 wrote an MSIX whose central directory Windows refuses.
if [ -n "${PATHLIFT_SIGN_PFX:-}" ]; then
    ossl_version="$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')"
    if [ -z "$ossl_version" ] || [ "$(printf '%s\n' 2.9 "$ossl_version" | sort -V | head -n 1)" != 2.9 ]; then
        echo "package: signing needs osslsigncode 2.9 or later, this machine has ${ossl_version:-none}" >&2
        exit 1
    fi
fi
build_log="$(mktemp /tmp/pathlift-package-build.XXXXXX)"
trap 'rm -f "$build_log"' EXIT
declare -A build_dirs
for preset in win32 win64 arm64; do
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

# sign_file <path>: signs a PE file (DLL), an MSI or an MSIX package in place when a certificate is given, and does
# nothing otherwise. SHA-256, the password read from a descriptor so that it is not on a command line.
sign_file() {
    [ -n "${PATHLIFT_SIGN_PFX:-}" ] || return 0
    local file="$1" signed="$1.signed"
    local timestamp=()
    [ "$PATHLIFT_SIGN_TIMESTAMP" != none ] && timestamp=(-ts "$PATHLIFT_SIGN_TIMESTAMP")
    rm -f "$signed"
    if ! osslsigncode sign -pkcs12 "$PATHLIFT_SIGN_PFX" -readpass <(printf '%s' "${PATHLIFT_SIGN_PASSWORD:-}") \
        -h sha256 -n Pathlift "${timestamp[@]}" -in "$file" -out "$signed" >"$signed.log" 2>&1; then
        cat "$signed.log" >&2
        rm -f "$signed" "$signed.log"
        echo "package: signing $file failed" >&2
        return 1
    fi
    rm -f "$signed.log"
    mv "$signed" "$file"
}

# What each build says about itself: the version, the class id, the product codes and where its DLLs are.
# shellcheck disable=SC1091
source "${build_dirs[win32]}/package.env"
version32="$PATHLIFT_VERSION"
built32="$PATHLIFT_DLL" notify_built32="$PATHLIFT_NOTIFY_DLL" server32="$PATHLIFT_SERVER32_GUID"
# shellcheck disable=SC1091
source "${build_dirs[arm64]}/package.env"
if [ "$version32" != "$PATHLIFT_VERSION" ]; then
    echo "package: the 32-bit build is version $version32, the ARM64 one $PATHLIFT_VERSION" >&2
    exit 1
fi
built_arm64="$PATHLIFT_DLL" notify_built_arm64="$PATHLIFT_NOTIFY_DLL"
sparse_action_built_arm64="$PATHLIFT_SPARSE_ACTION_DLL"
# shellcheck disable=SC1091
source "${build_dirs[win64]}/package.env"
if [ "$version32" != "$PATHLIFT_VERSION" ]; then
    echo "package: the 32-bit build is version $version32, the 64-bit one $PATHLIFT_VERSION" >&2
    exit 1
fi
built64="$PATHLIFT_DLL" notify_built64="$PATHLIFT_NOTIFY_DLL" server64="$PATHLIFT_SERVER64_GUID"
sparse_action_built64="$PATHLIFT_SPARSE_ACTION_DLL" sparse_component="$PATHLIFT_SPARSE_GUID"

mkdir -p "$out"
out="$(cd "$out" && pwd)"
name="Pathlift-$PATHLIFT_VERSION"

# The release files, each built DLL without its symbols and signed, in a folder of this version's own; wixl finds
# files only by paths relative to the working directory. The symbols go to dist/ beside the packages.
release="build/release-$PATHLIFT_VERSION"
rm -rf "$release"
mkdir -p "$release/x64" "$release/arm64" "$release/x86"
release_file() {
    local built="$1" shipped="$2" objcopy="$3" symbols="${4:-}"
    if [ -n "$symbols" ]; then
        "$objcopy" --only-keep-debug "$built" "$symbols"
        "$objcopy" --strip-all --add-gnu-debuglink="$symbols" "$built" "$shipped"
    else
        "$objcopy" --strip-all "$built" "$shipped"
    fi
    sign_file "$shipped"
}
release_file "$built64" "$release/x64/Pathlift.dll" x86_64-w64-mingw32-objcopy "$out/$name-x64.dll.debug"
release_file "$built32" "$release/x86/Pathlift.dll" i686-w64-mingw32-objcopy "$out/$name-x86.dll.debug"
release_file "$notify_built64" "$release/x64/notify_shell.dll" x86_64-w64-mingw32-objcopy
release_file "$notify_built32" "$release/x86/notify_shell.dll" i686-w64-mingw32-objcopy
release_file "$sparse_action_built64" "$release/x64/sparse_package_action.dll" x86_64-w64-mingw32-objcopy
# binutils 2.40 reads no ARM64 PE files; LLVM's objcopy does.
release_file "$built_arm64" "$release/arm64/Pathlift.dll" llvm-objcopy-14 "$out/$name-arm64.dll.debug"
release_file "$notify_built_arm64" "$release/arm64/notify_shell.dll" llvm-objcopy-14
release_file "$sparse_action_built_arm64" "$release/arm64/sparse_package_action.dll" llvm-objcopy-14

# ---- the sparse packages for Windows 11's top-level context menu, one for each 64-bit DLL's processor
# Its manifest names the publisher, which must be the signing certificate's subject; unsigned, Windows registers no
# package, so the x64 and arm64 MSIs carry and register theirs only when it is signed. The unsigned ones are still
# written, with a placeholder publisher, for inspection and the tests.
if [ -n "${PATHLIFT_SIGN_PFX:-}" ]; then
    if ! publisher="$(python3 scripts/sparse_package.py publisher "$PATHLIFT_SIGN_PFX")"; then
        echo "package: cannot read the certificate's subject from $PATHLIFT_SIGN_PFX" >&2
        exit 1
    fi
else
    publisher="CN=Pathlift developers"
fi
declare -A sparse_files=([x64]="$out/$name-sparse.msix" [arm64]="$out/$name-sparse-arm64.msix")
declare -A sparse_components=([x64]="$sparse_component" [arm64]="$PATHLIFT_SPARSE_ARM64_GUID")
sparse_msi_args_x64=() sparse_msi_args_arm64=()
for sparse_arch in x64 arm64; do
    sparse="${sparse_files[$sparse_arch]}"
    python3 scripts/sparse_package.py build --version "$PATHLIFT_VERSION" --publisher "$publisher" \
        --class-id "$PATHLIFT_COMMAND_CLASS_ID" --arch "$sparse_arch" --out "$sparse"
    if [ -n "${PATHLIFT_SIGN_PFX:-}" ]; then
        sign_file "$sparse" # osslsigncode 2.9 or later, checked above
        declare -n sparse_msi_args="sparse_msi_args_$sparse_arch"
        sparse_msi_args=(-D SparsePackage="$(realpath --relative-to="$root" "$sparse")"
            -D SparseActionDll="$release/$sparse_arch/sparse_package_action.dll"
            -D SparseComponent="${sparse_components[$sparse_arch]}"
            -D FamilyName="$(python3 scripts/sparse_package.py family-name "$publisher")")
        unset -n sparse_msi_args
    fi
    echo "$sparse"
done

# Builds one package. What wixl cannot write is set afterwards: the approval values' condition (they are written
# per machine only), each DLL's file version and language in the File table (Windows Installer compares versioned
# files by version; a versioned file has no MsiFileHash row), a valid 8.3 short name beside the version folders'
# long name, and the arm64 package's processor: wixl knows no arm64 and writes it as an x64 package.
build_msi() {
    local arch="$1" product_code="$2"
    shift 2
    local msi="$out/$name-$arch.msi" short wixl_arch="$arch" server="$server64"
    [ "$arch" = arm64 ] && wixl_arch=x64 server="$PATHLIFT_SERVERARM64_GUID"
    short="$(printf '%s' "$PATHLIFT_VERSION" | tr -d . | cut -c1-8)"
    wixl -a "$wixl_arch" -o "$msi" -D Arch="$arch" -D Version="$PATHLIFT_VERSION" -D ProductCode="$product_code" \
        -D UpgradeCode="$PATHLIFT_UPGRADE_CODE" -D ClassId="$PATHLIFT_CLASS_ID" \
        -D NotifyDll="$release/$arch/notify_shell.dll" -D Server32="$server32" -D Server64="$server" "$@" \
        installer/Pathlift.wxs
    if [ "$arch" = arm64 ]; then
        # The summary's subject, author and package code stay as wixl wrote them; Template names the processor and
        # the language.
        local summary
        summary="$(msiinfo suminfo "$msi" | tr -d '\r')"
        msibuild "$msi" -s "$(sed -n 's/^Subject: //p' <<<"$summary")" "$(sed -n 's/^Author: //p' <<<"$summary")" \
            "Arm64;1041" "$(sed -n 's/^Revision number (UUID): //p' <<<"$summary")"
    fi
    msibuild "$msi" -q "UPDATE \`Component\` SET \`Condition\` = 'ALLUSERS'
        WHERE \`Component\` = 'Approval64' OR \`Component\` = 'Approval32'"
    msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$PATHLIFT_VERSION', \`Language\` = '1041'
        WHERE \`File\` = 'Pathlift64' OR \`File\` = 'Pathlift32'"
    msibuild "$msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = 'Pathlift64'"
    msibuild "$msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = 'Pathlift32'"
    msibuild "$msi" -q "UPDATE \`Directory\` SET \`DefaultDir\` = '$short|$PATHLIFT_VERSION'
        WHERE \`Directory\` = 'VERSIONDIR64' OR \`Directory\` = 'VERSIONDIR32'"
    # The sparse package's component (signed x64 and arm64 builds) is for Windows 11 only, and its family name goes
    # to HKLM per machine and to HKCU per user: HKMU's root is -1 in the Registry table, which wixl does not write.
    msibuild "$msi" -q "UPDATE \`Component\` SET \`Condition\` = 'PATHLIFT_WINDOWS_BUILD >= 22000'
        WHERE \`Component\` = 'SparsePackage' OR \`Component\` = 'SparseFamilyName'" \
        -q "UPDATE \`Registry\` SET \`Root\` = -1 WHERE \`Component_\` = 'SparseFamilyName'"
    sign_file "$msi"
    echo "$msi"
}
build_msi x64 "$PATHLIFT_PRODUCT_CODE_X64" -D Dll64="$release/x64/Pathlift.dll" -D Dll32="$release/x86/Pathlift.dll" \
    "${sparse_msi_args_x64[@]}"
build_msi arm64 "$PATHLIFT_PRODUCT_CODE_ARM64" -D Dll64="$release/arm64/Pathlift.dll" \
    -D Dll32="$release/x86/Pathlift.dll" "${sparse_msi_args_arm64[@]}"
build_msi x86 "$PATHLIFT_PRODUCT_CODE_X86" -D Dll32="$release/x86/Pathlift.dll"

stage="$(mktemp -d /tmp/pathlift-package.XXXXXX)"
trap 'rm -f "$build_log"; rm -rf "$stage"' EXIT
for kind in x64 arm64 x86; do
    mkdir -p "$stage/$name/$kind"
    cp "$release/$kind/Pathlift.dll" "$stage/$name/$kind/Pathlift.dll"
done
cp README.md LICENSE "$stage/$name/"
# The scripts install this version's folders, read the class's registration and look for an installed package
# under its upgrade code as Windows Installer writes it there: the first three groups reversed, then each byte's two
# digits swapped. Windows' cmd.exe reads batch files with CRLF line ends.
code="${PATHLIFT_UPGRADE_CODE//[-\{\}]/}"
packed="$(rev <<<"${code:0:8}")$(rev <<<"${code:8:4}")$(rev <<<"${code:12:4}")"
for ((i = 16; i < 32; i += 2)); do packed+="${code:i+1:1}${code:i:1}"; done
for script in install.cmd uninstall.cmd; do
    sed -e "s/@PATHLIFT_VERSION@/$PATHLIFT_VERSION/g" -e "s/@PATHLIFT_CLASS_ID@/$PATHLIFT_CLASS_ID/g" \
        -e "s/@PATHLIFT_PACKED_UPGRADE_CODE@/$packed/g" -e 's/$/\r/' "installer/$script" >"$stage/$name/$script"
done
rm -f "$out/$name-portable.zip"
(cd "$stage" && zip -q -r -X "$out/$name-portable.zip" "$name")
echo "$out/$name-portable.zip"

# The winget manifest of the MSIs just written, with their hashes and product codes.
python3 scripts/winget_manifest.py --dist "$out" --out "$out/winget" --version "$PATHLIFT_VERSION" \
    --upgrade-code "$PATHLIFT_UPGRADE_CODE" --product-code x64="$PATHLIFT_PRODUCT_CODE_X64" \
    --product-code arm64="$PATHLIFT_PRODUCT_CODE_ARM64" --product-code x86="$PATHLIFT_PRODUCT_CODE_X86" \
    --url-template "$release_url" --release-notes installer/release-notes.md --license LICENSE
