#!/bin/bash
# The Windows packages under Wine: builds them with scripts/package.sh (and a newer version from the same sources),
# checks that every place agrees on the version, reads their tables, then per package kind in fresh prefixes:
# installs, compares the registry with what regsvr32 writes for the same DLLs at the same paths, drives the
# installed handler through the shell host, refuses a second copy, upgrades, removes; and the portable zip's
# install.cmd / uninstall.cmd. A build signed with a throwaway certificate carries the sparse package for Windows 11:
# tests/packages/sparse_package_test.py reads it and the tables, and a prefix runs its registration and removal.
# Each prefix has a wineserver of its own, stopped by process id.
# Needs a display: run it through scripts/test.sh, or after `source scripts/wine-session.sh; wine_session_start`.
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
if [ -z "${DISPLAY:-}" ]; then
    echo "package_test: no display; run it through scripts/test.sh" >&2
    exit 2
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Each prefix says what it is; the session's WINEARCH would contradict a 32-bit one.
unset WINEARCH
WINESERVER_BIN=/usr/lib/wine/wineserver64
[ -x "$WINESERVER_BIN" ] || WINESERVER_BIN="$(command -v wineserver)"
work="$(mktemp -d /tmp/pathlift-package-test.XXXXXX)"
declare -A server_pids=()

stop_prefix() {
    local prefix="$1"
    WINEPREFIX="$prefix" "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
    kill "${server_pids[$prefix]}" 2>/dev/null || true
    wait "${server_pids[$prefix]}" 2>/dev/null || true
    unset "server_pids[$prefix]"
    rm -rf "$prefix"
}
cleanup() {
    for prefix in "${!server_pids[@]}"; do stop_prefix "$prefix"; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

failures=0
pass() { echo "ok   $1"; }
fail() {
    echo "FAIL $1"
    failures=$((failures + 1))
}
# expect <what> <expected> <actual>: prints both values on a mismatch.
expect() {
    if [ "$2" == "$3" ]; then
        pass "$1"
    else
        fail "$1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/     /'
    fi
}

# A fresh prefix, 64- or 32-bit, with its own persistent wineserver; sets PREFIX.
new_prefix() {
    PREFIX="$(mktemp -d "$work/prefix.XXXXXX")"
    WINEPREFIX="$PREFIX" WINEARCH="win$1" "$WINESERVER_BIN" -f -p >/dev/null 2>&1 &
    server_pids[$PREFIX]=$!
    # wineboot fails now and then on a loaded machine: one more try.
    WINEARCH="win$1" on "$PREFIX" "$1" wineboot -i >/dev/null 2>&1 ||
        { sleep 1; WINEARCH="win$1" on "$PREFIX" "$1" wineboot -i >/dev/null 2>&1; }
    # Without a window manager Wine waits for each window to go away unless windows are unmanaged.
    on "$PREFIX" "$1" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

# on <prefix> <64|32> <program> [arguments]: runs a Windows program with the loader of that bitness; in a 64-bit
# prefix the caller names 32-bit system programs by their syswow64 path.
on() {
    local prefix="$1" loader=/usr/lib/wine/wine
    [ "$2" = 64 ] && loader=/usr/lib/wine/wine64
    shift 2
    WINEPREFIX="$prefix" "$loader" "$@"
}

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Registry keys in one view, every value with its type and exact bytes (tests/packages/registry_dump.cpp), "absent"
# for a missing key. "ours" are the keys and the value registration writes; "around" are the keys that hold them,
# which others use too.
snapshot() {
    local prefix="$1" bits="$2" keys
    local approved='HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
    if [ "$3" = ours ]; then
        keys=("HKLM\\Software\\Classes\\CLSID\\$PATHLIFT_CLASS_ID" 'HKLM\Software\Classes\*\ShellEx\ContextMenuHandlers\Pathlift'
            'HKLM\Software\Classes\Folder\ShellEx\ContextMenuHandlers\Pathlift' "$approved"
            "HKCU\\Software\\Classes\\CLSID\\$PATHLIFT_CLASS_ID")
    else
        keys=('HKLM\Software\Classes\*\ShellEx' 'HKLM\Software\Classes\Folder\ShellEx' "$approved")
    fi
    echo "== $bits-bit view"
    on "$prefix" "$bits" "build/win$bits/tests/registry_dump.exe" "${keys[@]}" | tr -d '\r'
}
# The file that the class's in-process server key names in one view.
served_by() {
    snapshot "$1" "$2" ours | awk '/\\InprocServer32\]$/ { block = 1; next } block && /^  @ / {
        sub(/^[^"]*"/, ""); sub(/"$/, ""); print; exit }'
}
# views <prefix> <ours|around>: the snapshot in every view of the case.
views() {
    local placement
    for placement in "${dlls[@]}"; do snapshot "$1" "${placement%%=*}" "$2"; done
}

# Another extension's entries beside ours, as every real machine has them: they and the keys that hold them must
# outlive our removal.
add_neighbour() {
    local prefix="$1" bits="$2" reg=reg neighbour='{0BADC0DE-0000-4000-8000-000000000001}'
    [ "$bits" = 32 ] && [ -d "$prefix/drive_c/windows/syswow64" ] && reg='C:\windows\syswow64\reg.exe'
    on "$prefix" "$bits" "$reg" add 'HKLM\Software\Classes\*\ShellEx\ContextMenuHandlers\Neighbour' /ve /d "$neighbour" /f
    on "$prefix" "$bits" "$reg" add 'HKLM\Software\Classes\Folder\ShellEx\ContextMenuHandlers\Neighbour' /ve /d "$neighbour" /f
    on "$prefix" "$bits" "$reg" add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' \
        /v "$neighbour" /d Neighbour /f
}

# The version record and the about box's first line as the built DLL carries them.
dll_version() {
    python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack_from("<II", data, at + 8)
fields = [f"FileVersion={ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"]
def text_after(key, start):
    at = data.find(key.encode("utf-16-le"), start) + len(key) * 2
    at += -at % 4
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")
for name in ("FileVersion", "ProductVersion"):
    fields.append(f"{name}String={text_after(name + chr(0), at)}")
about = data.find("Pathlift Shell Extension v".encode("utf-16-le"))
end = data.find("\n".encode("utf-16-le"), about)
fields.append("About=" + data[about:end].decode("utf-16-le"))
print(" ".join(fields))
EOF
}

# One table of a package as text; msiinfo ends its lines with CRLF.
# Installs (/i) or removes (/x) a package with a log, prints how long it took, and checks the exit code and that
# the custom action told the shell: timed_msiexec <prefix> <bits> </i|/x> <msi> <install|removal> <kind>.
timed_msiexec() {
    local log="$work/$5.log" started status
    started=$(date +%s%N)
    on "$1" "$2" msiexec "$3" "$(windows_path "$4")" /qn /l*v "$(windows_path "$log")"
    status=$?
    echo "   $5 took $((($(date +%s%N) - started) / 1000000)) ms"
    expect "msiexec $3 $6 /qn" 0 "$status"
    expect "the shell was told after the $5" 1 \
        "$(grep -c 'Pathlift: told the shell that file associations changed' "$log")"
}

msi_table() { msiinfo export "$1" "$2" | tr -d '\r'; }
msi_property() { msi_table "$1" Property | awk -F'\t' -v name="$2" '$1 == name { print $2 }'; }

# The products in Programs and Features named Pathlift, and one product's name, version and publisher there.
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
installed_products() {
    on "$1" "$2" "build/win$2/tests/registry_dump.exe" "$uninstall_key" | tr -d '\r' |
        grep -c '^  "DisplayName" type 1, .*  "Pathlift"$'
}
shown_product() {
    on "$1" "$2" "build/win$2/tests/registry_dump.exe" "$uninstall_key\\$3" | tr -d '\r' |
        sed -n 's/^  "\(DisplayName\|DisplayVersion\|Publisher\)" type 1, .*  "\(.*\)"$/\1=\2;/p' | tr -d '\n'
}

# The zip's install.cmd registers its DLLs where it was unpacked, uninstall.cmd removes the registration again.
check_zip() {
    local prefix="$1" portable="C:\\Pathlift-$version" placement bits
    python3 -m zipfile -e "$work/dist/Pathlift-$version-portable.zip" "$prefix/drive_c/"
    on "$prefix" "$own" cmd /c "$portable\\install.cmd" >/dev/null
    expect "zip: install.cmd" 0 $?
    for placement in "${zip_dlls[@]}"; do
        bits="${placement%%=*}"
        expect "zip: the $bits-bit view serves $portable\\${placement#*=}\\Pathlift.dll" \
            "$portable\\${placement#*=}\\Pathlift.dll" "$(served_by "$prefix" "$bits")"
    done
    on "$prefix" "$own" cmd /c "$portable\\uninstall.cmd" >/dev/null
    expect "zip: uninstall.cmd" 0 $?
    for placement in "${zip_dlls[@]}"; do
        expect "zip: no class key left in the ${placement%%=*}-bit view" \
            "[HKLM\\Software\\Classes\\CLSID\\$PATHLIFT_CLASS_ID] absent" \
            "$(snapshot "$prefix" "${placement%%=*}" ours | grep -F "[HKLM\\Software\\Classes\\CLSID\\$PATHLIFT_CLASS_ID]")"
    done
}

# ---- build: this version, and a newer one from the same sources for the upgrade; the programs the test runs
for preset in win32 win64; do
    if ! cmake --build --preset "$preset" --target shell_host registry_dump powershell_standin >"$work/build.log" 2>&1; then
        cat "$work/build.log"
        echo "package_test: the $preset shell host or registry dump did not build"
        exit 1
    fi
done
# shellcheck disable=SC1091
source build/win64/package.env 2>/dev/null || { cmake --preset win64 >/dev/null && source build/win64/package.env; }
version="$PATHLIFT_VERSION"
IFS=. read -r major minor build revision <<<"$version"
newer="$major.$minor.$((build + 1)).$revision"
echo "== packages $version and $newer"
started=$(date +%s)
if ! bash scripts/package.sh --out "$work/dist" >"$work/package.log" 2>&1 ||
    ! bash scripts/package.sh --version "$newer" --out "$work/newer" >>"$work/package.log" 2>&1; then
    cat "$work/package.log"
    echo "package_test: scripts/package.sh failed"
    exit 1
fi
echo "   built in $(($(date +%s) - started)) s: $(cd "$work" && du -b dist/* newer/* | awk '{ printf "%s %d KiB; ", $2, $1 / 1024 }')"

# ---- signed: the same version with a throwaway certificate whose subject needs Windows' quoting
started=$(date +%s)
signer_subject='CN=Pathlift test signer, O="Pathlift test, Inc.", S=Tokyo, C=JP'
if ! { openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.pem" -days 2 \
    -subj "/C=JP/ST=Tokyo/O=Pathlift test, Inc./CN=Pathlift test signer" \
    -addext extendedKeyUsage=codeSigning -addext basicConstraints=critical,CA:FALSE &&
    openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -out "$work/signer.pfx" \
        -passout pass:throwaway; } >"$work/signer.log" 2>&1 ||
    ! PATHLIFT_SIGN_PFX="$work/signer.pfx" PATHLIFT_SIGN_PASSWORD=throwaway \
        bash scripts/package.sh --out "$work/signed" >>"$work/signer.log" 2>&1; then
    cat "$work/signer.log"
    echo "package_test: the signed build failed"
    exit 1
fi
echo "   signed build in $(($(date +%s) - started)) s"
echo "== the sparse package and the tables that register it"
if python3 tests/packages/sparse_package_test.py --unsigned "$work/dist" --signed "$work/signed" \
    --cert "$work/signer.pem" --publisher "$signer_subject" --version "$version" >"$work/sparse.log" 2>&1; then
    pass "sparse package: $(grep -c '^ok' "$work/sparse.log") checks"
else
    cat "$work/sparse.log"
    fail "sparse package"
fi

# ---- one version everywhere: file names, ProductVersion, the DLLs' version record and about text
for row in "$work/dist|$version" "$work/newer|$newer"; do
    dir="${row%%|*}" want="${row##*|}"
    short="${want%.*.*}"
    expect "artifacts of $want" \
        "Pathlift-$want-portable.zip Pathlift-$want-sparse.msix Pathlift-$want-x64.msi Pathlift-$want-x86.msi" \
        "$(cd "$dir" && echo *)"
    for kind in x64 x86; do
        msi="$dir/Pathlift-$want-$kind.msi"
        expect "$kind $want: ProductVersion" "$want" "$(msi_property "$msi" ProductVersion)"
        rm -rf "$work/extract" && mkdir -p "$work/extract" && msiextract -C "$work/extract" "$msi" >/dev/null
        records=""
        while IFS= read -r -d '' dll; do
            records+="$(dll_version "$dll");"
        done < <(find "$work/extract" -name Pathlift.dll -print0)
        record="FileVersion=$want FileVersionString=$short ProductVersionString=$short About=Pathlift Shell Extension v$short;"
        expect "$kind $want: version record and about text of each DLL" \
            "$([ "$kind" = x64 ] && echo "$record$record" || echo "$record")" "$records"
    done
done
expect "the build's version is CMake's project version" "$version" \
    "$(sed -n 's/^project(Pathlift VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)"

# ---- the tables: what is decided before anything is installed
x64="$work/dist/Pathlift-$version-x64.msi"
table_rows=(
    "Property|ALLUSERS	2"
    "Property|Manufacturer	Pathlift developers"
    "Property|UpgradeCode	$PATHLIFT_UPGRADE_CODE"
    "Component|Approval64	{2D9A4C61-8E57-4B0A-A3B2-64A9C1E5F064}	INSTALLDIR64	260	ALLUSERS	reg"
    "Component|Approval32	{C47E2B90-1F6A-4D38-8A5E-9B3D7F21A032}	INSTALLDIR32	4	ALLUSERS	reg"
    "CustomAction|NotifyShell	65	NotifyShellDll	NotifyShell	"
    "Upgrade|$PATHLIFT_UPGRADE_CODE	0.0.0.0	$version		256		PATHLIFT_OLDER_FOUND"
    "Upgrade|$PATHLIFT_UPGRADE_CODE	$version			258		PATHLIFT_SAME_OR_NEWER_FOUND"
)
for row in "${table_rows[@]}"; do
    table="${row%%|*}" line="${row#*|}"
    if msi_table "$x64" "$table" | awk -v row="$line" 'index($0, row) == 1 { found = 1 } END { exit !found }'; then
        pass "x64 $table has: ${line//	/ | }"
    else
        fail "x64 $table lacks: ${line//	/ | }"
        msi_table "$x64" "$table" | sed 's/^/     /'
    fi
done
# Windows Installer 5 reads ALLUSERS=2 with MSIINSTALLPERUSER=1 as a per-user install (Wine's msi does not).
expect "x64 needs Windows Installer 5" "Version: 500 (1f4)" "$(msiinfo suminfo "$x64" | tr -d '\r' | grep '^Version:')"
expect "x64 InstallExecuteSequence: old versions removed before, the shell told after the install" \
    "InstallValidate RemoveExistingProducts InstallInitialize InstallFinalize NotifyShell" \
    "$(msi_table "$x64" InstallExecuteSequence | awk -F'\t' 'NR > 3 { print $3, $1 }' | sort -n |
        awk '$2 ~ /^(InstallValidate|RemoveExistingProducts|InstallInitialize|InstallFinalize|NotifyShell)$/ { printf "%s%s", sep, $2; sep = " " }')"

# ---- per package kind: kind | prefix | DLL directories by registry view | the zip's DLL folder by view
cases=(
    "x64|win64|64=C:\\Program Files\\Pathlift;32=C:\\Program Files (x86)\\Pathlift|64=x64;32=x86"
    "x86|win32|32=C:\\Program Files\\Pathlift|32=x86"
)
for row in "${cases[@]}"; do
    IFS='|' read -r kind arch placements zip_placements <<<"$row"
    IFS=';' read -r -a dlls <<<"$placements"
    IFS=';' read -r -a zip_dlls <<<"$zip_placements"
    own="${arch#win}"
    msi="$work/dist/Pathlift-$version-$kind.msi"
    newer_msi="$work/newer/Pathlift-$newer-$kind.msi"
    echo "== $kind package in a fresh $arch prefix"
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        if [ "$arch" = win32 ]; then
            echo "   NOT RUN: this machine's kernel cannot execute 32-bit programs (Wine's i386 loader)"
            continue
        fi
        # The 64-bit package still installs both DLLs, but nothing can load or register the 32-bit one here.
        echo "   32-bit DLL and zip checks NOT RUN: this machine's kernel cannot execute 32-bit programs"
        dlls=("${dlls[0]}")
        zip_dlls=()
    fi

    # What regsvr32 writes for the same DLLs at the same paths, in a prefix of its own.
    new_prefix "$own"
    reference="$PREFIX"
    for placement in "${dlls[@]}"; do add_neighbour "$reference" "${placement%%=*}" >/dev/null; done
    for placement in "${dlls[@]}"; do
        bits="${placement%%=*}" dir="${placement#*=}"
        unix_dir="$reference/drive_c/${dir#C:\\}"
        unix_dir="${unix_dir//\\//}"
        mkdir -p "$unix_dir"
        cp "build/win$bits/Pathlift.dll" "$unix_dir/"
        regsvr32=regsvr32
        [ "$own" = 64 ] && [ "$bits" = 32 ] && regsvr32='C:\windows\syswow64\regsvr32.exe'
        on "$reference" "$bits" "$regsvr32" /s "$dir\\Pathlift.dll"
        expect "regsvr32 /s $dir\\Pathlift.dll" 0 $?
        expect "regsvr32: the $bits-bit view serves $dir\\Pathlift.dll" "$dir\\Pathlift.dll" "$(served_by "$reference" "$bits")"
    done
    expected_registry="$(views "$reference" ours)"

    # The portable zip's scripts in the same prefix, once the reference is taken.
    [ "${#zip_dlls[@]}" -gt 0 ] && check_zip "$reference"
    stop_prefix "$reference"

    new_prefix "$own"
    target="$PREFIX"
    for placement in "${dlls[@]}"; do add_neighbour "$target" "${placement%%=*}" >/dev/null; done
    before="$(views "$target" ours)$(views "$target" around)"
    rm -f "$work/install.log" "$work/removal.log"
    timed_msiexec "$target" "$own" /i "$msi" install "$kind"
    for placement in "${dlls[@]}"; do
        bits="${placement%%=*}" dir="${placement#*=}"
        file="$target/drive_c/${dir#C:\\}/Pathlift.dll"
        if cmp -s "${file//\\//}" "build/win$bits/Pathlift.dll"; then
            pass "the $bits-bit DLL installed as $dir\\Pathlift.dll"
        else
            fail "the $bits-bit DLL installed as $dir\\Pathlift.dll"
        fi
    done
    expect "registry equals what regsvr32 writes, in every view" "$expected_registry" "$(views "$target" ours)"
    expect "the approval value in every view" "${#dlls[@]}" "$(views "$target" around | grep -c "^  \"$PATHLIFT_CLASS_ID\"")"
    product_code="$PATHLIFT_PRODUCT_CODE_X64"
    [ "$kind" = x86 ] && product_code="$PATHLIFT_PRODUCT_CODE_X86"
    expect "Programs and Features: name, version, publisher" \
        "DisplayName=Pathlift;DisplayVersion=$version;Publisher=Pathlift developers;" \
        "$(shown_product "$target" "$own" "$product_code")"

    # The installed registration alone, as Explorer finds it: each DLL through the host of its own bitness.
    for placement in "${dlls[@]}"; do
        bits="${placement%%=*}" dll="${placement#*=}\\Pathlift.dll"
        output="$(on "$target" "$bits" "build/win$bits/tools/shell_host.exe" --no-register "$dll" 2>&1)"
        expect "$bits-bit shell host: menu entry and clipboard from the installed registration" \
            "menu entry: 選択ファイルのパスをコピー|clipboard text:|$dll" \
            "$(printf '%s\n' "$output" | tr -d '\r' |
                sed -n -e 's/^\(menu entry: [^ ]*\).*/\1/p' -e '/^clipboard text:$/{p;n;p}' | paste -sd '|')"
    done

    # A second copy is refused: the same package again changes nothing, a package of the same version for the
    # other kind stops with Windows Installer's fatal-error result (1603, of which the shell sees the low byte).
    refusals=("$msi|0")
    [ "$kind" = x64 ] && refusals+=("$work/dist/Pathlift-$version-x86.msi|$((1603 & 255))")
    for refusal in "${refusals[@]}"; do
        on "$target" "$own" msiexec /i "$(windows_path "${refusal%|*}")" /qn
        status=$?
        expect "again: $(basename "${refusal%|*}") over $kind $version" "${refusal#*|}" "$status"
        expect "still one product after $(basename "${refusal%|*}")" 1 "$(installed_products "$target" "$own")"
    done

    # The major upgrade: one product, the new files, the registration unchanged.
    on "$target" "$own" msiexec /i "$(windows_path "$newer_msi")" /qn
    expect "msiexec /i $kind $newer over $version" 0 $?
    expect "one product after the upgrade" 1 "$(installed_products "$target" "$own")"
    for placement in "${dlls[@]}"; do
        dir="${placement#*=}"
        file="$target/drive_c/${dir#C:\\}/Pathlift.dll"
        expect "$dir\\Pathlift.dll is the new one" "FileVersion=$newer" "$(dll_version "${file//\\//}" | cut -d' ' -f1)"
    done
    expect "registry after the upgrade equals what regsvr32 writes" "$expected_registry" "$(views "$target" ours)"
    on "$target" "$own" msiexec /i "$(windows_path "$msi")" /qn
    expect "older $version over $newer refused" "$((1603 & 255))" $?

    timed_msiexec "$target" "$own" /x "$newer_msi" removal "$kind"
    for placement in "${dlls[@]}"; do
        dir="${placement#*=}"
        unix_dir="$target/drive_c/${dir#C:\\}"
        if [ -e "${unix_dir//\\//}" ]; then fail "$dir removed"; else pass "$dir removed"; fi
    done
    expect "registry of our keys and the keys around them after the removal equals the one before the install" \
        "$before" "$(views "$target" ours)$(views "$target" around)"
    expect "no product left" 0 "$(installed_products "$target" "$own")"

    # Per user: Windows Installer 5 turns ALLUSERS=2 with MSIINSTALLPERUSER=1 into an empty ALLUSERS. Wine's msi
    # ignores MSIINSTALLPERUSER and writes HKCR rows to the machine's classes even then, so the test empties
    # ALLUSERS itself and checks what the package decides: no approval value, and a clean removal.
    on "$target" "$own" msiexec /i "$(windows_path "$msi")" /qn ALLUSERS=
    expect "per user: msiexec /i $kind /qn ALLUSERS=" 0 $?
    expect "per user: no approval value in any view" 0 \
        "$(views "$target" around | grep -c "^  \"$PATHLIFT_CLASS_ID\"")"
    on "$target" "$own" msiexec /x "$(windows_path "$msi")" /qn
    expect "per user: msiexec /x $kind /qn" 0 $?
    expect "per user: registry after the removal equals the one before the install" \
        "$before" "$(views "$target" ours)$(views "$target" around)"
    stop_prefix "$target"
done

# ---- the signed x64 package's sparse package: nothing below Windows 11; on Windows 11 registered after the files
# are in place and removed before they go, a failure logged and the install intact. The prefix's powershell.exe is
# a stand-in that prints its command line and fails, as Add-AppxPackage does where the signer is not trusted.
echo "== signed x64 package: the sparse package below Windows 11 and on it"
new_prefix 64
target="$PREFIX"
mkdir -p "$target/drive_c/windows/system32/WindowsPowerShell/v1.0"
cp build/win64/tests/powershell_standin.exe "$target/drive_c/windows/system32/WindowsPowerShell/v1.0/powershell.exe"
signed_msi="$work/signed/Pathlift-$version-x64.msi"
family="$(python3 scripts/sparse_package.py family-name "$signer_subject")"
package_key='HKLM\Software\Pathlift\Package'
family_value() {
    on "$target" 64 "build/win64/tests/registry_dump.exe" "$package_key" | tr -d '\r' |
        sed -n 's/^  "FamilyName" type 1, .*  "\(.*\)"$/\1/p'
}
sparse_lines() { grep -a '^Pathlift: \(registering\|removing\|PowerShell\)' "$1" | tr -d '\r'; }
powershell='stand-in powershell.exe called as: "C:\windows\system32\WindowsPowerShell\v1.0\powershell.exe" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "$ErrorActionPreference = '"'Stop'"'; '
for build in below 22000; do
    # Wine 8 knows no Windows 11; the package reads the build number Windows keeps in the registry, so that value
    # stands in for it.
    [ "$build" = 22000 ] && on "$target" 64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' \
        /v CurrentBuildNumber /d 22000 /f >/dev/null
    log="$work/sparse-$build"
    on "$target" 64 msiexec /i "$(windows_path "$signed_msi")" /qn /l*v "$(windows_path "$log-install.log")"
    expect "build $build: msiexec /i signed x64 /qn" 0 $?
    dll="$(served_by "$target" 64)"
    dir="${dll%\\*}"
    sparse_file="$target/drive_c/${dir#C:\\}/Pathlift-sparse.msix"
    sparse_file="${sparse_file//\\//}"
    if [ "$build" = below ]; then
        expect "below Windows 11: no package file, no family name, no sparse action" "no||" \
            "$([ -e "$sparse_file" ] && echo yes || echo no)|$(family_value)|$(sparse_lines "$log-install.log")"
    else
        expect "Windows 11: the package beside the 64-bit DLL, the family name, the registration tried and logged" \
            "$(printf '%s\n' "yes|$family|Pathlift: registering the sparse package failed: PowerShell exited with 1" \
                "Pathlift: PowerShell said: ${powershell}Add-AppxPackage -Path '$dir\Pathlift-sparse.msix' -ExternalLocation '$dir'\"")" \
            "$(cmp -s "$sparse_file" "$work/signed/Pathlift-$version-sparse.msix" && echo yes || echo no)|$(family_value)|$(sparse_lines "$log-install.log")"
    fi
    on "$target" 64 msiexec /x "$(windows_path "$signed_msi")" /qn /l*v "$(windows_path "$log-removal.log")"
    expect "build $build: msiexec /x signed x64 /qn" 0 $?
    expected_removal=""
    [ "$build" = 22000 ] && expected_removal="$(printf '%s\n' \
        "Pathlift: removing the sparse package failed: PowerShell exited with 1" \
        "Pathlift: PowerShell said: ${powershell}Get-AppxPackage | Where-Object PackageFamilyName -eq '$family' | Remove-AppxPackage\"")"
    expect "build $build: after the removal no package file and no family name; the removal tried and logged" \
        "no||$expected_removal" \
        "$([ -e "$sparse_file" ] && echo yes || echo no)|$(family_value)|$(sparse_lines "$log-removal.log")"
done
stop_prefix "$target"

echo
if [ "$failures" -ne 0 ]; then
    echo "package_test: $failures check(s) FAILED"
    exit 1
fi
echo "package_test: all checks passed"
