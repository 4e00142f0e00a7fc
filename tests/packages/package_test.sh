#!/bin/bash
# The Windows packages under Wine: builds them with scripts/package.sh (and a newer version from the same sources,
# signed with a throwaway certificate), checks that every place agrees on the version, that the shipped DLLs carry
# no symbols and what is signed verifies, reads their tables, then per package kind in fresh prefixes: installs,
# compares the registry with what regsvr32 writes for the same DLLs at the same paths, drives the installed handler
# through the shell host, refuses a second copy and the x86 package on 64-bit Windows, upgrades while a process
# keeps the old DLL loaded, removes, installs with both program-files folders the same (as per user); then the
# portable zip's install.cmd / uninstall.cmd. The signed build carries the sparse package for Windows 11:
# tests/packages/sparse_package_test.py reads it and the tables, and a prefix runs its provisioning, registration,
# upgrade and removal per machine and per user against a stand-in powershell.exe. The winget manifests of both
# builds are checked against winget's schemas and the MSIs (tests/packages/winget_manifest_test.py).
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

# Helpers of the installed state. The release DLL of a version and registry view, as the packages and the zip ship
# it; the Pathlift folders that exist in a prefix's program-files folders.
release_dll() {
    local kind=x86
    [ "$2" = 64 ] && kind=x64
    [ "$2" = arm64 ] && kind=arm64
    printf 'build/release-%s/%s/Pathlift.dll' "$1" "$kind"
}
unix_path() {
    local path="$1/drive_c/${2#C:\\}"
    printf '%s' "${path//\\//}"
}
pathlift_folders() {
    local folder
    for folder in "Program Files" "Program Files (x86)"; do
        [ -e "$1/drive_c/$folder/Pathlift" ] && echo "C:\\$folder\\Pathlift"
    done
}
# Every file in those Pathlift folders, as a Windows path.
pathlift_files() {
    (cd "$1/drive_c" && find "Program Files/Pathlift" "Program Files (x86)/Pathlift" -type f 2>/dev/null) |
        sed 's|^|C:\\|; s|/|\\|g' | sort
}
# Wine's msi removes a component's own folder but keeps the emptied folders above it (the version's and Pathlift),
# which Windows Installer removes with the last component in them: deleting them stands in for Windows.
remove_empty_folders() {
    (cd "$1/drive_c" && find "Program Files/Pathlift" "Program Files (x86)/Pathlift" -depth -type d -empty \
        -delete 2>/dev/null)
}
# same_file <what> <expected file> <actual file>
same_file() {
    if cmp -s "$2" "$3"; then pass "$1"; else fail "$1"; fi
}

# The zip's marker as the 64-bit view (or a 32-bit prefix's only one) holds it.
portable_marker() {
    on "$1" "$own" "build/win$own/tests/registry_dump.exe" 'HKLM\Software\Pathlift' | tr -d '\r' |
        sed -n -e 's/^\[HKLM\\Software\\.*\] absent$/absent/p' -e 's/^\[HKLM\\Software\\\(.*\)\]$/\1/p' \
            -e 's/^  "\(Version\)" type 1, .*  "\(.*\)"$/\1=\2/p' | paste -sd ' '
}
# The shell host's menu entry from the installed registration of one DLL.
menu_entry() {
    on "$1" "$2" "build/win$2/tools/shell_host.exe" --no-register "$3" 2>&1 | tr -d '\r' |
        sed -n 's/^\(menu entry: [^ ]*\).*/\1/p'
}

# The zip's install.cmd copies its DLLs into the program-files folders and registers those copies, unelevated it
# changes nothing; uninstall.cmd unregisters what each view names when the zip of its version or an older one put it
# there, and deletes a DLL only once no registration names it. Compared with what regsvr32 writes for the same DLLs
# at the same paths, and with the prefix before; with the package refused while the zip's install is there.
check_zip() {
    local prefix="$1" portable="C:\\Pathlift-$version" placement bits dir output
    python3 -m zipfile -e "$work/dist/Pathlift-$version-portable.zip" "$prefix/drive_c/"
    output="$(on "$prefix" "$own" cmd /c "$portable\\install.cmd" | tr -d '\r')"
    expect "zip: install.cmd unelevated fails" 1 $?
    expect "zip: unelevated, install.cmd says it needs an elevated prompt" \
        'install.cmd needs an elevated prompt: open a command prompt with "Run as administrator" and run it there.' \
        "$output"
    expect "zip: unelevated, install.cmd changes nothing" "$before" \
        "$(views "$prefix" ours)$(views "$prefix" around)$(pathlift_folders "$prefix")"
    # Windows lets only an elevated administrator open the LocalService hive HKU\S-1-5-19, which it always has
    # loaded; Wine has no such hive, so the key stands for the elevated prompt.
    on "$prefix" "$own" reg add 'HKU\S-1-5-19' /f >/dev/null 2>&1
    on "$prefix" "$own" cmd /c "$portable\\install.cmd" >/dev/null
    expect "zip: install.cmd elevated" 0 $?
    for placement in "${dlls[@]}"; do
        bits="${placement%%=*}" dir="${placement#*=}"
        expect "zip: the $bits-bit view serves the copy $dir\\Pathlift.dll" "$dir\\Pathlift.dll" \
            "$(served_by "$prefix" "$bits")"
        same_file "zip: $dir\\Pathlift.dll is the zip's $bits-bit DLL" "$(release_dll "$version" "$bits")" \
            "$(unix_path "$prefix" "$dir\\Pathlift.dll")"
    done
    expect "zip: registry equals what regsvr32 writes, in every view" "$expected_registry" "$(views "$prefix" ours)"
    expect "zip: the marker names the version" "Pathlift Pathlift\\Portable Version=$version" "$(portable_marker "$prefix")"

    # The package while the zip's install is there: its launch condition names the zip, and nothing changes.
    on "$prefix" "$own" msiexec /i "$(windows_path "$msi")" /qn /l*v "$(windows_path "$work/over-zip.log")"
    status=$?
    expect "zip: $(basename "$msi") refused over the zip's install" "$((1603 & 255))" "$status"
    expect "zip: stopped by its launch condition, having found the zip's version" "1|1" \
        "$(grep -c 'LaunchConditions. Return value 0' "$work/over-zip.log")|$(grep -c "^Property(S): PATHLIFT_PORTABLE = $version$" "$work/over-zip.log")"
    expect "zip: no product, and the registration as install.cmd left it" "0|$expected_registry" \
        "$(installed_products "$prefix" "$own")|$(views "$prefix" ours)"

    # The newer zip over it: its own folders, and this version's, loaded by nothing, deleted.
    python3 -m zipfile -e "$work/newer/Pathlift-$newer-portable.zip" "$prefix/drive_c/"
    on "$prefix" "$own" cmd /c "C:\\Pathlift-$newer\\install.cmd" >/dev/null
    expect "zip: the newer install.cmd" 0 $?
    expect "zip: registry equals what regsvr32 writes for the newer DLLs" "$expected_newer" "$(views "$prefix" ours)"
    left=""
    for placement in "${dlls[@]}"; do
        dir="${placement#*=}"
        left+="$(cd "$(unix_path "$prefix" "${dir%\\*\\*}")" && find . -mindepth 2 -maxdepth 2 -type d) "
    done
    expect "zip: only the newer version's folders are left" \
        "$(for placement in "${dlls[@]}"; do printf './%s/%s ' "$newer" "${placement##*\\}"; done)" "$left"

    # The older zip's uninstall.cmd now: each view names a newer version's DLL, which it leaves registered and on disk.
    output="$(on "$prefix" "$own" cmd /c "$portable\\uninstall.cmd" | tr -d '\r')"
    status=$?
    expected="$(for placement in "${newer_dlls[@]}"; do
        printf "The %s-bit registration is Pathlift %s's (%s): left for the uninstall.cmd of that version.\n" \
            "${placement%%=*}" "$newer" "${placement#*=}\\Pathlift.dll"
    done)"
    expect "zip: the older uninstall.cmd after the newer install.cmd leaves the newer registration and says so" \
        "1|$expected"$'\n'"Pathlift is not removed completely; the lines above say what is left." "$status|$output"
    expect "zip: the newer registration is intact and its marker too" \
        "$expected_newer|Pathlift Pathlift\\Portable Version=$newer" "$(views "$prefix" ours)|$(portable_marker "$prefix")"
    for placement in "${newer_dlls[@]}"; do
        bits="${placement%%=*}" dll="${placement#*=}\\Pathlift.dll"
        expect "zip: the $bits-bit view still serves an existing $dll, and the shell host shows the entry" \
            "yes|menu entry: 選択ファイルのパスをコピー" \
            "$([ -e "$(unix_path "$prefix" "$dll")" ] && echo yes || echo no)|$(menu_entry "$prefix" "$bits" "$dll")"
    done

    # The newer uninstall.cmd while a process holds the 64-bit DLL (the only one in a 32-bit prefix): unregistered,
    # the held DLL named and kept; run again once it is released, it deletes it.
    held_dll="${newer_dlls[0]#*=}\\Pathlift.dll"
    rm -f "$work/release" "$work/held.out"
    on "$prefix" "${newer_dlls[0]%%=*}" "build/win${newer_dlls[0]%%=*}/tests/class_probe.exe" "$PATHLIFT_CLASS_ID" \
        "$(windows_path "$work/release")" >"$work/held.out" 2>&1 &
    holder=$!
    for _ in $(seq 300); do grep -qs '^version:' "$work/held.out" && break; sleep 0.1; done
    output="$(on "$prefix" "$own" cmd /c "C:\\Pathlift-$newer\\uninstall.cmd" | tr -d '\r')"
    expect "zip: uninstall.cmd with $held_dll held unregisters, names the DLL it could not delete and keeps it" \
        "0|Could not delete $held_dll: a program has it loaded."$'\n'"Pathlift is unregistered. A program still has the DLLs named above loaded: run uninstall.cmd again after Explorer restarts, or after you sign out and in again, to delete them.|absent|yes" \
        "$?|$output|$(served_by "$prefix" "${newer_dlls[0]%%=*}" | grep . || echo absent)|$([ -e "$(unix_path "$prefix" "$held_dll")" ] && echo yes || echo no)"
    touch "$work/release"
    wait "$holder"
    output="$(on "$prefix" "$own" cmd /c "C:\\Pathlift-$newer\\uninstall.cmd" | tr -d '\r')"
    expect "zip: uninstall.cmd again" "0 Pathlift is removed." "$? $output"
    expect "zip: registry, program-files folders and HKLM\\Software\\Pathlift after uninstall.cmd equal the ones before" \
        "$before|absent" "$(views "$prefix" ours)$(views "$prefix" around)$(pathlift_folders "$prefix")|$(portable_marker "$prefix")"
}

# ---- build: this version, and a newer one from the same sources for the upgrade; the programs the test runs
for preset in win32 win64 arm64; do
    if ! cmake --build --preset "$preset" --target shell_host registry_dump class_probe powershell_standin cert_subject >"$work/build.log" 2>&1; then
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
echo "== packages $version (unsigned) and $newer (signed)"
started=$(date +%s)
# A throwaway self-signed code-signing certificate, as an organisation's own would be given, with a subject that needs
# Windows' quoting in the sparse package's publisher.
signer_subject='CN=Pathlift test signer, O="Pathlift test, Inc.", S=Tokyo, C=JP'
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/sign.key" -out "$work/sign.pem" -days 2 \
    -subj "/C=JP/ST=Tokyo/O=Pathlift test, Inc./CN=Pathlift test signer" \
    -addext extendedKeyUsage=codeSigning -addext basicConstraints=critical,CA:FALSE >/dev/null 2>&1 &&
    openssl pkcs12 -export -inkey "$work/sign.key" -in "$work/sign.pem" -out "$work/sign.pfx" \
        -passout pass:throwaway >/dev/null 2>&1 || { echo "package_test: no certificate"; exit 1; }
# The first without a release URL, the second with the template a publisher gives.
release_url='https://downloads.example.com/pathlift/v{version}/{file}'
if ! env -u PATHLIFT_SIGN_PFX -u PATHLIFT_RELEASE_URL bash scripts/package.sh --out "$work/dist" >"$work/package.log" 2>&1 ||
    ! PATHLIFT_SIGN_PFX="$work/sign.pfx" PATHLIFT_SIGN_PASSWORD=throwaway PATHLIFT_SIGN_TIMESTAMP=none \
        PATHLIFT_RELEASE_URL="$release_url" bash scripts/package.sh --version "$newer" --out "$work/newer" \
        >>"$work/package.log" 2>&1; then
    cat "$work/package.log"
    echo "package_test: scripts/package.sh failed"
    exit 1
fi
echo "   built in $(($(date +%s) - started)) s: $(cd "$work" && du -b dist/*.* newer/*.* | awk '{ printf "%s %d KiB; ", $2, $1 / 1024 }')"
# What the package script refuses, before it builds anything: a certificate without a time-stamp server (unless told
# none), and a version whose fourth number Windows Installer would ignore.
output="$(PATHLIFT_SIGN_PFX="$work/sign.pfx" PATHLIFT_SIGN_PASSWORD=throwaway env -u PATHLIFT_SIGN_TIMESTAMP \
    bash scripts/package.sh --out "$work/refused" 2>&1)"
expect "package.sh refuses to sign without a time-stamp server" "1|package: PATHLIFT_SIGN_PFX without PATHLIFT_SIGN_TIMESTAMP: the signatures would stop verifying when the certificate expires; name an RFC 3161 time-stamp server, or set PATHLIFT_SIGN_TIMESTAMP=none to sign without one|no" \
    "$?|$output|$([ -e "$work/refused" ] && echo yes || echo no)"
output="$(bash scripts/package.sh --version "$major.$minor.$build.1" --out "$work/refused" 2>&1)"
expect "package.sh refuses a fourth version number other than 0, with the reason" "1|1|no" \
    "$?|$(tr -s ' \n' '  ' <<<"$output" | grep -cF "PATHLIFT_VERSION $major.$minor.$build.1: the fourth number must be 0, because Windows Installer compares only the first three and would not upgrade $major.$minor.$build.0 to it")|$([ -e "$work/refused" ] && echo yes || echo no)"
rm -rf "build/package-$major.$minor.$build.1"
echo "== validation rules on both packages, unsigned and signed"
if python3 tests/packages/ice_rules.py "$work"/dist/*.msi "$work"/newer/*.msi >"$work/ice.log" 2>&1; then
    pass "validation rules: $(grep -c '^ok' "$work/ice.log") checks, each rule on each package"
    sed -n 's/^ok   \(ICE[0-9]*\) .*(deliberate: \(.*\))$/   deliberate \1: \2/p' "$work/ice.log" | sort -u
else
    cat "$work/ice.log"
    fail "validation rules"
fi
# The faults the rules are there for, put back into a copy of the signed x64 package: a property setter with the
# no-impersonate bit, a deferred action that is not impersonated, sequenced after InstallFinalize, and the family
# name back in the component whose key path is the sparse package's file.
broken="$work/broken.msi"
cp "$work/newer/Pathlift-$newer-x64.msi" "$broken"
msibuild "$broken" \
    -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('Elevated', 3137, 'NotifyShellDll', 'NotifyShell')" \
    -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('SetElevated', 2099, 'Elevated', 'data')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('Elevated', 6700)" \
    -q "UPDATE \`Registry\` SET \`Component_\` = 'SparsePackage' WHERE \`Component_\` = 'SparseFamilyName'"
expect "validation rules catch ICE68, ICE77, ICE57 and ICE105 put back into a package" \
    "$(printf '%s\n' "FAIL ICE68 broken.msi" "     SetElevated: type 2099: no-impersonate or TS-aware bit on an immediate action" \
        "FAIL ICE77 broken.msi" "     Elevated: in-script action at 6700, outside InstallInitialize..InstallFinalize" \
        "FAIL ICE57 broken.msi" "     SparsePackage: data that can be per-user or per-machine with a per-machine key path" \
        "FAIL ICE105 broken.msi (deliberate: Approval32, Approval64, DeprovisionSparsePackage, ProvisionSparsePackage)" \
        "     Elevated: type 3137: elevated (deferred, not impersonated)")" \
    "$(python3 tests/packages/ice_rules.py "$broken" | grep -v '^ok')"
echo "== the sparse package and the tables that register it"
if python3 tests/packages/sparse_package_test.py --unsigned "$work/dist" --signed "$work/newer" \
    --cert "$work/sign.pem" --publisher "$signer_subject" --version "$version" --signed-version "$newer" \
    >"$work/sparse.log" 2>&1; then
    pass "sparse package: $(grep -c '^ok' "$work/sparse.log") checks"
else
    cat "$work/sparse.log"
    fail "sparse package"
fi

# ---- the winget manifests: valid against winget's own schemas (tests/packages/winget-schema), and each installer
# entry the same as the MSI it names (hash, product and upgrade code, architecture, version, scope, what it refuses)
echo "== winget manifests, unsigned and signed"
for row in "$work/dist|$version" "$work/newer|$newer"; do
    dir="${row%%|*}" want="${row#*|}"
    if python3 tests/packages/winget_manifest_test.py "$dir/winget/Pathlift.Pathlift/$want" "$dir" >"$work/winget.log" 2>&1; then
        pass "winget manifest $want: $(grep -c '^ok' "$work/winget.log") checks"
    else
        cat "$work/winget.log"
        fail "winget manifest $want"
    fi
done
expect "winget manifest: without a release URL a placeholder address, and the package script says so" \
    "https://release-url-not-set.invalid/Pathlift/$version/Pathlift-$version-x64.msi|1" \
    "$(sed -n 's/^  InstallerUrl: //p' "$work/dist/winget/Pathlift.Pathlift/$version/Pathlift.Pathlift.installer.yaml" | head -n 1)|$(
        grep -c "^winget_manifest: no release URL given (PATHLIFT_RELEASE_URL or --release-url)" "$work/package.log")"
expect "winget manifest: the publisher's release URL, for each file" \
    "$(printf "https://downloads.example.com/pathlift/v$newer/Pathlift-$newer-%s.msi\n" x64 x64 arm64 arm64 x86 x86)" \
    "$(sed -n 's/^  InstallerUrl: //p' "$work/newer/winget/Pathlift.Pathlift/$newer/Pathlift.Pathlift.installer.yaml")"
# What the check is there for, put into copies of the manifest: one wrong hash, one wrong product code, and the x86
# package offered to x64 Windows, which its launch condition NOT VersionNT64 refuses.
broken_manifest() {
    rm -rf "$work/winget-broken"
    mkdir -p "$work/winget-broken/Pathlift.Pathlift"
    cp -r "$work/dist/winget/Pathlift.Pathlift/$version" "$work/winget-broken/Pathlift.Pathlift/"
    python3 -c 'import sys; path, old, new = sys.argv[1:]; text = open(path, encoding="utf-8").read()
assert old in text; open(path, "w", encoding="utf-8").write(text.replace(old, new, 1))' \
        "$work/winget-broken/Pathlift.Pathlift/$version/Pathlift.Pathlift.installer.yaml" "$1" "$2"
    python3 tests/packages/winget_manifest_test.py "$work/winget-broken/Pathlift.Pathlift/$version" "$work/dist" |
        grep -v '^ok'
}
hash_x64="$(sha256sum "$work/dist/Pathlift-$version-x64.msi" | cut -c1-64 | tr a-f A-F)"
wrong_hash="0${hash_x64:1}"
[ "$wrong_hash" = "$hash_x64" ] && wrong_hash="1${hash_x64:1}"
expect "winget manifest check catches one wrong hash" \
    "$(printf '%s\n' "FAIL x64 machine: the manifest says what the package is" \
        "     InstallerSha256: manifest $wrong_hash, package $hash_x64")" \
    "$(broken_manifest "InstallerSha256: $hash_x64" "InstallerSha256: $wrong_hash")"
wrong_code="${PATHLIFT_PRODUCT_CODE_ARM64%?}"
wrong_code="${wrong_code%?}0}"
[ "$wrong_code" = "$PATHLIFT_PRODUCT_CODE_ARM64" ] && wrong_code="${wrong_code%??}1}"
expect "winget manifest check catches one wrong product code" \
    "$(printf '%s\n' "FAIL arm64 machine: the manifest says what the package is" \
        "     ProductCode: manifest $wrong_code, package $PATHLIFT_PRODUCT_CODE_ARM64")" \
    "$(broken_manifest "  ProductCode: '$PATHLIFT_PRODUCT_CODE_ARM64'" "  ProductCode: '$wrong_code'")"
expect "winget manifest check catches the x86 package offered to x64 Windows" \
    "$(printf '%s\n' "FAIL x86 machine: the manifest says what the package is" \
        "     UnsupportedOSArchitectures: manifest ['arm64'], package ['arm64', 'x64']" \
        "FAIL on x64 Windows winget can choose only the x64 package" \
        "     installers it can choose: ['x64', 'x86'], should be ['x64']")" \
    "$(broken_manifest "  UnsupportedOSArchitectures:
  - x64
  - arm64" "  UnsupportedOSArchitectures:
  - arm64")"

# ---- one version everywhere: file names, ProductVersion, the File table, the DLLs' version record and about text;
# the shipped DLLs without debug sections, their symbols in files of their own; what a certificate signs
for row in "$work/dist|$version|unsigned" "$work/newer|$newer|signed"; do
    IFS='|' read -r dir want signing <<<"$row"
    short="${want%.*.*}"
    expect "artifacts of $want" "$(printf "Pathlift-$want-%s " arm64.dll.debug arm64.msi portable.zip sparse-arm64.msix \
        sparse.msix x64.dll.debug x64.msi x86.dll.debug x86.msi)winget | $(printf "Pathlift.Pathlift.%s " \
        installer.yaml locale.en-US.yaml yaml)" \
        "$(cd "$dir" && printf '%s ' *)| $(cd "$dir/winget/Pathlift.Pathlift/$want" && printf '%s ' *)"
    rm -rf "$work/extract" && mkdir -p "$work/extract/zip"
    python3 -m zipfile -e "$dir/Pathlift-$want-portable.zip" "$work/extract/zip"
    for kind in x64 arm64 x86; do
        msi="$dir/Pathlift-$want-$kind.msi"
        expect "$kind $want: ProductVersion" "$want" "$(msi_property "$msi" ProductVersion)"
        files="Pathlift32 $want 1041"
        [ "$kind" != x86 ] && files+=" Pathlift64 $want 1041"
        # The signed x64 and arm64 packages also carry the sparse package, an unversioned file with a hash of its own.
        expect "$kind $want: File table: each DLL with its version and language" "$files" \
            "$(msi_table "$msi" File | awk -F'\t' 'NR > 3 && $1 != "SparsePackage" { print $1, $5, $6 }' | sort |
                paste -sd ' ')"
        expect "$kind $want: no MsiFileHash row for a versioned file" 0 \
            "$(msi_table "$msi" MsiFileHash | awk -F'\t' 'NR > 3 && $1 ~ /^Pathlift(32|64)$/' | grep -c .)"
        mkdir -p "$work/extract/$kind" && msiextract -C "$work/extract/$kind" "$msi" >/dev/null
        msiinfo extract "$msi" Binary.NotifyShellDll >"$work/extract/notify_shell-$kind.dll"
        records=""
        while IFS= read -r -d '' dll; do
            records+="$(dll_version "$dll");"
        done < <(find "$work/extract/$kind" -name Pathlift.dll -print0)
        record="FileVersion=$want FileVersionString=$short ProductVersionString=$short About=Pathlift Shell Extension v$short;"
        expect "$kind $want: version record and about text of each DLL" \
            "$([ "$kind" != x86 ] && echo "$record$record" || echo "$record")" "$records"
    done
    mapfile -t shipped < <(cd "$work/extract" && find . -name Pathlift.dll | sort)
    expect "$want: 8 DLLs shipped (x64 and arm64 packages 2 each, x86 package 1, zip 3)" 8 "${#shipped[@]}"
    # LLVM's objdump reads the ARM64 files too, which binutils 2.40 cannot.
    expect "$want: no shipped DLL has a debug section" "" \
        "$(for dll in "${shipped[@]}"; do llvm-objdump-14 -h "$work/extract/$dll" | grep -o ' \.debug_[a-z_]*'; done)"
    expect "$want: each symbol file has the debug information of its DLL" ".debug_info .debug_info .debug_info" \
        "$(for bits in x64 arm64 x86; do llvm-objdump-14 -h "$dir/Pathlift-$want-$bits.dll.debug" |
            grep -o ' \.debug_info' | tr -d ' '; done | paste -sd ' ')"
    # osslsigncode verify checks the signature and the chain up to the throwaway certificate.
    verified=""
    for file in "$dir/Pathlift-$want-x64.msi" "$dir/Pathlift-$want-arm64.msi" "$dir/Pathlift-$want-x86.msi" \
        "${shipped[@]/#/$work/extract/}" "$work/extract/notify_shell-x64.dll" "$work/extract/notify_shell-arm64.dll" \
        "$work/extract/notify_shell-x86.dll"; do
        if osslsigncode verify -CAfile "$work/sign.pem" -in "$file" >/dev/null 2>&1; then
            verified+="signed "
        else
            verified+="unsigned "
        fi
    done
    expect "$want: osslsigncode verify on every package, each shipped DLL and each custom-action DLL" \
        "$(printf "$signing %.0s" $(seq 14))" \
        "$verified"
done
expect "the build's version is CMake's project version" "$version" \
    "$(sed -n 's/^project(Pathlift VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)"

# ---- the tables: what is decided before anything is installed
x64="$work/dist/Pathlift-$version-x64.msi"
portable_refusal='Pathlift [PATHLIFT_PORTABLE] is installed from its portable zip (install.cmd). To install this package, first run that zip'"'"'s uninstall.cmd from a command prompt opened with "Run as administrator".'
table_rows=(
    "x64|Property|ALLUSERS	2"
    "x64|Property|Manufacturer	Pathlift developers"
    "x64|Property|UpgradeCode	$PATHLIFT_UPGRADE_CODE"
    "x64|Property|REBOOT	ReallySuppress"
    "x64|Property|MSIRESTARTMANAGERCONTROL	Disable"
    "x64|Component|Approval64	{2D9A4C61-8E57-4B0A-A3B2-64A9C1E5F064}	INSTALLDIR64	260	ALLUSERS	reg"
    "x64|Component|Approval32	{C47E2B90-1F6A-4D38-8A5E-9B3D7F21A032}	INSTALLDIR32	4	ALLUSERS	reg"
    "x64|CustomAction|NotifyShell	65	NotifyShellDll	NotifyShell	"
    "x64|RegLocator|PortableInstall	2	Software\\Pathlift\\Portable	Version	18"
    "x86|RegLocator|PortableInstall	2	Software\\Pathlift\\Portable	Version	2"
    "x64|Upgrade|$PATHLIFT_UPGRADE_CODE	0.0.0.0	$version		256		PATHLIFT_OLDER_FOUND"
    "x64|Upgrade|$PATHLIFT_UPGRADE_CODE	$version			258		PATHLIFT_SAME_OR_NEWER_FOUND"
    "x64|LaunchCondition|Installed OR NOT PATHLIFT_PORTABLE	$portable_refusal"
    "x86|LaunchCondition|Installed OR NOT PATHLIFT_PORTABLE	$portable_refusal"
    "x86|LaunchCondition|NOT VersionNT64	This package is for 32-bit Windows. On 64-bit Windows install Pathlift-$version-x64.msi (on Windows on ARM Pathlift-$version-arm64.msi), which serves Explorer and 32-bit programs alike."
    "x64|LaunchCondition|NOT PATHLIFT_MACHINE~=\"ARM64\"	This package is for x64 Windows, and Explorer on Windows on ARM cannot load its DLL. On Windows on ARM install Pathlift-$version-arm64.msi."
    "x64|RegLocator|MachineArchitecture	2	SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment	PROCESSOR_ARCHITECTURE	18"
    # Windows on ARM: the ARM64 DLL's component in the 64-bit view, the x86 DLL's in the 32-bit one.
    "arm64|Component|Server64	{$PATHLIFT_SERVERARM64_GUID}	INSTALLDIR64	256		Pathlift64"
    "arm64|Component|Server32	{$PATHLIFT_SERVER32_GUID}	INSTALLDIR32	0		Pathlift32"
    "arm64|Component|Approval64	{2D9A4C61-8E57-4B0A-A3B2-64A9C1E5F064}	INSTALLDIR64	260	ALLUSERS	reg"
    "arm64|Component|Approval32	{C47E2B90-1F6A-4D38-8A5E-9B3D7F21A032}	INSTALLDIR32	4	ALLUSERS	reg"
    "arm64|Property|ALLUSERS	2"
    "arm64|Property|UpgradeCode	$PATHLIFT_UPGRADE_CODE"
)
for row in "${table_rows[@]}"; do
    IFS='|' read -r kind table line <<<"$row"
    line="${row#*|*|}"
    if msi_table "$work/dist/Pathlift-$version-$kind.msi" "$table" |
        awk -v row="$line" 'index($0, row) == 1 { found = 1 } END { exit !found }'; then
        pass "$kind $table has: ${line//	/ | }"
    else
        fail "$kind $table lacks: ${line//	/ | }"
        msi_table "$work/dist/Pathlift-$version-$kind.msi" "$table" | sed 's/^/     /'
    fi
done
# Where each file lands, from the Directory, Component and File tables, with both program-files folders the same
# folder, as Windows Installer 5 maps them for a per-user install: each DLL still has a path of its own.
install_paths() {
    python3 - "$work/tables" <<'PY'
import sys
def rows(name):
    lines = open(f"{sys.argv[1]}/{name}.idt", encoding="utf-8").read().replace("\r", "").split("\n")[3:]
    return [line.split("\t") for line in lines if line]
parents = {d: (parent, default.split(":")[0].split("|")[-1]) for d, parent, default in rows("Directory")}
def path(d):
    if d in ("ProgramFilesFolder", "ProgramFiles64Folder"):
        return "<Programs>"
    parent, name = parents[d]
    return path(parent) + "\\" + name
folder = {c[0]: c[2] for c in rows("Component")}
print(" ".join(sorted(path(folder[f[1]]) + "\\" + f[2].split("|")[-1] for f in rows("File"))))
PY
}
for kind in x64 arm64 x86; do
    rm -rf "$work/tables" && mkdir -p "$work/tables"
    for table in Directory Component File; do
        msiinfo export "$work/dist/Pathlift-$version-$kind.msi" "$table" >"$work/tables/$table.idt"
    done
    paths="<Programs>\\Pathlift\\$version\\x86\\Pathlift.dll"
    [ "$kind" != x86 ] && paths="<Programs>\\Pathlift\\$version\\$kind\\Pathlift.dll $paths"
    expect "$kind: each file's path, both program-files folders the same" "$paths" "$(install_paths)"
done
# Windows Installer 5 reads ALLUSERS=2 with MSIINSTALLPERUSER=1 as a per-user install (Wine's msi does not).
expect "x64 needs Windows Installer 5" "Version: 500 (1f4)" "$(msiinfo suminfo "$x64" | tr -d '\r' | grep '^Version:')"
sequence="AppSearch LaunchConditions InstallValidate RemoveExistingProducts InstallInitialize RemoveFiles RemoveFolders"
sequence+=" InstallFiles InstallFinalize NotifyShell"
expect "x64 InstallExecuteSequence: the zip's marker read before the launch conditions, old versions removed first, emptied folders removed, the shell told last" \
    "$sequence" "$(msi_table "$x64" InstallExecuteSequence | awk -F'\t' 'NR > 3 { print $3, $1 }' | sort -n |
        awk -v names=" $sequence " 'index(names, " " $2 " ") { printf "%s%s", sep, $2; sep = " " }')"

# ---- Windows on ARM, before anything is installed: the arm64 package's summary, the processor of each DLL it and
# the zip carry (the ARM64 one where the 64-bit view's component puts it, the x86 one in the 32-bit view's folder),
# and no launch condition but the version's
arm64_msi="$work/dist/Pathlift-$version-arm64.msi"
expect "arm64 summary: its subject, Template Arm64 and Japanese, Windows Installer 5" \
    "Subject: Pathlift $version (arm64): copy the paths of selected files from Explorer's context menu|Template: Arm64;1041|Version: 500 (1f4)" \
    "$(msiinfo suminfo "$arm64_msi" | tr -d '\r' | grep -E '^(Subject|Template|Version):' | paste -sd '|')"
pe_machine() {
    python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read()
print(hex(struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)[0]))' "$1"
}
rm -rf "$work/arm64" && mkdir -p "$work/arm64/msi" "$work/arm64/zip"
msiextract -C "$work/arm64/msi" "$arm64_msi" >/dev/null
msiinfo extract "$arm64_msi" Binary.NotifyShellDll >"$work/arm64/notify_shell.dll"
python3 -m zipfile -e "$work/dist/Pathlift-$version-portable.zip" "$work/arm64/zip"
# The version folder's subfolders are the ones the Component table puts in the 64- and 32-bit views (above).
expect "arm64 package: the File table's DLLs, ARM64 (0xaa64) in the arm64 folder and x86 (0x14c) in the x86 one" \
    "$version/arm64/Pathlift.dll 0xaa64|$version/x86/Pathlift.dll 0x14c" \
    "$(cd "$work/arm64/msi" && find . -name Pathlift.dll | while read -r dll; do
        echo "${dll#*/Pathlift/} $(pe_machine "$dll")"; done | sort | paste -sd '|')"
expect "arm64 package: its custom actions are ARM64 code" 0xaa64 "$(pe_machine "$work/arm64/notify_shell.dll")"
expect "zip: x64, arm64 and x86 DLLs of their processors" "arm64 0xaa64|x64 0x8664|x86 0x14c" \
    "$(for kind in arm64 x64 x86; do echo "$kind $(pe_machine "$work/arm64/zip/Pathlift-$version/$kind/Pathlift.dll")"; done |
        paste -sd '|')"
expect "arm64 package: its launch conditions are the version's and the zip's, none about the processor" \
    "Installed OR NOT PATHLIFT_SAME_OR_NEWER_FOUND|Installed OR NOT PATHLIFT_PORTABLE" \
    "$(msi_table "$arm64_msi" LaunchCondition | awk -F'\t' 'NR > 3 { print $1 }' | paste -sd '|')"

# ---- per package kind: kind | prefix | each registry view's DLL folder, VERSION standing for the version
cases=(
    "x64|win64|64=C:\\Program Files\\Pathlift\\VERSION\\x64;32=C:\\Program Files (x86)\\Pathlift\\VERSION\\x86"
    "x86|win32|32=C:\\Program Files\\Pathlift\\VERSION\\x86"
)
for row in "${cases[@]}"; do
    IFS='|' read -r kind arch placements <<<"$row"
    IFS=';' read -r -a dlls <<<"${placements//VERSION/$version}"
    IFS=';' read -r -a newer_dlls <<<"${placements//VERSION/$newer}"
    # The files every case installs, whether or not this machine can run what loads them.
    installed=("${dlls[@]}")
    installed_newer=("${newer_dlls[@]}")
    own="${arch#win}"
    msi="$work/dist/Pathlift-$version-$kind.msi"
    newer_msi="$work/newer/Pathlift-$newer-$kind.msi"
    echo "== $kind package in a fresh $arch prefix"
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        if [ "$arch" = win32 ]; then
            echo "   NOT RUN: ${WINE32_WHY:-32-bit Wine does not run here}"
            continue
        fi
        # The 64-bit package still installs both DLLs, but nothing can load or register the 32-bit one here.
        echo "   32-bit DLL checks NOT RUN: ${WINE32_WHY:-32-bit Wine does not run here}"
        dlls=("${dlls[0]}")
        newer_dlls=("${newer_dlls[0]}")
    fi

    # What regsvr32 writes for the same DLLs at the same paths, this version's and then the newer one's, in a prefix
    # of its own.
    new_prefix "$own"
    reference="$PREFIX"
    for placement in "${dlls[@]}"; do add_neighbour "$reference" "${placement%%=*}" >/dev/null; done
    for release in "$version" "$newer"; do
        placed=("${dlls[@]}")
        [ "$release" = "$newer" ] && placed=("${newer_dlls[@]}")
        for placement in "${placed[@]}"; do
            bits="${placement%%=*}" dir="${placement#*=}"
            mkdir -p "$(unix_path "$reference" "$dir")"
            cp "$(release_dll "$release" "$bits")" "$(unix_path "$reference" "$dir\\Pathlift.dll")"
            regsvr32=regsvr32
            [ "$own" = 64 ] && [ "$bits" = 32 ] && regsvr32='C:\windows\syswow64\regsvr32.exe'
            on "$reference" "$bits" "$regsvr32" /s "$dir\\Pathlift.dll"
            expect "regsvr32 /s $dir\\Pathlift.dll" 0 $?
            expect "regsvr32: the $bits-bit view serves $dir\\Pathlift.dll" "$dir\\Pathlift.dll" \
                "$(served_by "$reference" "$bits")"
        done
        if [ "$release" = "$version" ]; then
            expected_registry="$(views "$reference" ours)"
        else
            expected_newer="$(views "$reference" ours)"
        fi
    done
    stop_prefix "$reference"

    new_prefix "$own"
    target="$PREFIX"
    for placement in "${dlls[@]}"; do add_neighbour "$target" "${placement%%=*}" >/dev/null; done
    before="$(views "$target" ours)$(views "$target" around)"
    rm -f "$work/install.log" "$work/removal.log"

    if [ "$kind" = x64 ]; then
        # The x86 package on 64-bit Windows: its launch condition stops it (Wine logs the failed action's result as
        # 0), with Windows Installer's fatal-error result, of which the shell sees the low byte.
        on "$target" 64 msiexec /i "$(windows_path "$work/dist/Pathlift-$version-x86.msi")" /qn \
            /l*v "$(windows_path "$work/x86-on-64.log")"
        expect "x86 package on 64-bit Windows refused" "$((1603 & 255))" $?
        expect "x86 package on 64-bit Windows: stopped by its launch condition" 1 \
            "$(grep -c 'LaunchConditions. Return value 0' "$work/x86-on-64.log")"
        expect "x86 package on 64-bit Windows: no product" 0 "$(installed_products "$target" 64)"
        # The x64 package on Windows on ARM, whose system environment names the machine's processor ARM64; Wine
        # has a value of its own there, put back afterwards.
        environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
        on "$target" 64 reg add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f >/dev/null
        on "$target" 64 msiexec /i "$(windows_path "$msi")" /qn /l*v "$(windows_path "$work/x64-on-arm64.log")"
        expect "x64 package on Windows on ARM refused" "$((1603 & 255))" $?
        on "$target" 64 reg add "$environment" /v PROCESSOR_ARCHITECTURE /d AMD64 /f >/dev/null
        expect "x64 package on Windows on ARM: stopped by its launch condition" 1 \
            "$(grep -c 'LaunchConditions. Return value 0' "$work/x64-on-arm64.log")"
        expect "x64 package on Windows on ARM: no product" 0 "$(installed_products "$target" 64)"
        # Windows Installer runs an Arm64 package on ARM64 Windows only, and so does Wine's.
        on "$target" 64 msiexec /i "$(windows_path "$arm64_msi")" /qn
        expect "arm64 package on x64 Windows refused as a package for another processor (1633)" "$((1633 & 255))" $?
    fi

    timed_msiexec "$target" "$own" /i "$msi" install "$kind"
    for placement in "${installed[@]}"; do
        bits="${placement%%=*}" dir="${placement#*=}"
        same_file "the $bits-bit DLL installed as $dir\\Pathlift.dll" "$(release_dll "$version" "$bits")" \
            "$(unix_path "$target" "$dir\\Pathlift.dll")"
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

    # A second copy is refused: the same package again changes nothing.
    on "$target" "$own" msiexec /i "$(windows_path "$msi")" /qn
    status=$?
    expect "again: $(basename "$msi") over $kind $version" 0 "$status"
    expect "still one product after $(basename "$msi")" 1 "$(installed_products "$target" "$own")"

    # The zip's scripts while the package is installed: both refuse, name the package and change nothing.
    python3 -m zipfile -e "$work/newer/Pathlift-$newer-portable.zip" "$target/drive_c/"
    on "$target" "$own" reg add 'HKU\S-1-5-19' /f >/dev/null 2>&1
    state="$(views "$target" ours)$(views "$target" around)$(pathlift_files "$target")$(portable_marker "$target")"
    output="$(on "$target" "$own" cmd /c "C:\\Pathlift-$newer\\install.cmd" | tr -d '\r')"
    expect "install.cmd with the $kind package installed refuses and names the package" \
        "1|Pathlift is installed with its Windows Installer package (Pathlift-<version>-x64.msi or -x86.msi): remove it in Programs and Features first. install.cmd changed nothing." \
        "$?|$output"
    output="$(on "$target" "$own" cmd /c "C:\\Pathlift-$newer\\uninstall.cmd" | tr -d '\r')"
    expect "uninstall.cmd with the $kind package installed refuses and names the package" \
        "1|Pathlift is installed with its Windows Installer package: remove it in Programs and Features. uninstall.cmd changed nothing." \
        "$?|$output"
    expect "the zip's scripts with the $kind package installed change nothing" "$state" \
        "$(views "$target" ours)$(views "$target" around)$(pathlift_files "$target")$(portable_marker "$target")"
    on "$target" "$own" reg delete 'HKU\S-1-5-19' /f >/dev/null 2>&1

    # The major upgrade while a process keeps the installed DLL loaded, as Explorer does after any right-click: no
    # restart, the new version's DLL in its own folder for every process started afterwards. Windows Installer renames
    # the held DLL into C:\Config.Msi, deletes it at the next restart and returns 3010; Wine's msi leaves it where it
    # is and returns 0. The checks marked "Wine only" hold for Wine's behaviour alone.
    held_dll="${dlls[0]#*=}\\Pathlift.dll"
    rm -f "$work/release" "$work/held.out"
    on "$target" "${dlls[0]%%=*}" "build/win${dlls[0]%%=*}/tests/class_probe.exe" "$PATHLIFT_CLASS_ID" \
        "$(windows_path "$work/release")" >"$work/held.out" 2>&1 &
    holder=$!
    for _ in $(seq 300); do grep -qs '^version:' "$work/held.out" && break; sleep 0.1; done
    expect "a process holds $held_dll" "server: $held_dll|version: $version" "$(tr -d '\r' <"$work/held.out" | paste -sd '|')"
    on "$target" "$own" msiexec /i "$(windows_path "$newer_msi")" /qn /l*v "$(windows_path "$work/upgrade.log")"
    status=$?
    expect "msiexec /i $kind $newer over $version with the DLL held: 0 (Wine only; Windows returns 3010)" 0 "$status"
    expect "one product after the upgrade" 1 "$(installed_products "$target" "$own")"
    for placement in "${installed_newer[@]}"; do
        bits="${placement%%=*}" dir="${placement#*=}"
        same_file "$dir\\Pathlift.dll is the new $bits-bit DLL" "$(release_dll "$newer" "$bits")" \
            "$(unix_path "$target" "$dir\\Pathlift.dll")"
    done
    expect "registry after the upgrade equals what regsvr32 writes for the new DLLs" "$expected_newer" \
        "$(views "$target" ours)"
    bits="${newer_dlls[0]%%=*}"
    expect "a process started after the upgrade gets the new DLL without a restart" \
        "server: ${newer_dlls[0]#*=}\\Pathlift.dll|version: $newer" \
        "$(on "$target" "$bits" "build/win$bits/tests/class_probe.exe" "$PATHLIFT_CLASS_ID" | tr -d '\r' | paste -sd '|')"
    expect "the held old DLL stays in its folder (Wine only; Windows moves it into C:\\Config.Msi)" yes \
        "$([ -e "$(unix_path "$target" "$held_dll")" ] && echo yes || echo no)"
    on "$target" "$own" msiexec /i "$(windows_path "$msi")" /qn
    expect "older $version over $newer refused" "$((1603 & 255))" $?
    touch "$work/release"
    wait "$holder"
    expect "the holding process ends" 0 $?

    timed_msiexec "$target" "$own" /x "$newer_msi" removal "$kind"
    # Wine only: the DLL that was held during the upgrade is all that is left, since Wine did not move it away. On
    # Windows the next restart deletes it; deleting it here stands in for that restart.
    expect "after the removal only the DLL held during the upgrade is left (Wine only)" "$held_dll" \
        "$(pathlift_files "$target")"
    rm -f "$(unix_path "$target" "$held_dll")"
    remove_empty_folders "$target"
    expect "no Pathlift folder left in the program-files folders" "" "$(pathlift_folders "$target")"
    expect "registry of our keys and the keys around them after the removal equals the one before the install" \
        "$before" "$(views "$target" ours)$(views "$target" around)"
    expect "no product left" 0 "$(installed_products "$target" "$own")"

    # Per user: Windows Installer 5 turns ALLUSERS=2 with MSIINSTALLPERUSER=1 into an empty ALLUSERS and maps both
    # program-files folders to the one per-user Programs folder. Wine's msi does neither (and writes HKCR rows to the
    # machine's classes even then), so the test empties ALLUSERS itself and installs a copy of the package whose
    # 64-bit Pathlift folder lies in the 32-bit program-files folder: each DLL keeps a folder of its own, each view
    # serves the DLL of its bitness, no approval value, and a clean removal.
    per_user_msi="$work/per-user-$kind.msi"
    cp "$msi" "$per_user_msi"
    msibuild "$per_user_msi" -q "UPDATE \`Directory\` SET \`Directory_Parent\` = 'ProgramFilesFolder'
        WHERE \`Directory\` = 'PATHLIFTDIR64'"
    on "$target" "$own" msiexec /i "$(windows_path "$per_user_msi")" /qn ALLUSERS=
    expect "per user: msiexec /i $kind /qn ALLUSERS=" 0 $?
    expect "per user: no approval value in any view" 0 \
        "$(views "$target" around | grep -c "^  \"$PATHLIFT_CLASS_ID\"")"
    programs="C:\\Program Files\\Pathlift\\$version"
    [ "$kind" = x64 ] && programs="C:\\Program Files (x86)\\Pathlift\\$version"
    for placement in "${installed[@]}"; do
        bits="${placement%%=*}" dll="$programs\\${placement##*\\}\\Pathlift.dll"
        same_file "per user: $dll is the $bits-bit DLL" "$(release_dll "$version" "$bits")" "$(unix_path "$target" "$dll")"
    done
    for placement in "${dlls[@]}"; do
        bits="${placement%%=*}" dll="$programs\\${placement##*\\}\\Pathlift.dll"
        expect "per user: the $bits-bit view serves $dll" "$dll" "$(served_by "$target" "$bits")"
        output="$(on "$target" "$bits" "build/win$bits/tools/shell_host.exe" --no-register "$dll" 2>&1)"
        expect "per user: $bits-bit shell host: menu entry from the installed registration" \
            "menu entry: 選択ファイルのパスをコピー" \
            "$(printf '%s\n' "$output" | tr -d '\r' | sed -n 's/^\(menu entry: [^ ]*\).*/\1/p')"
    done
    on "$target" "$own" msiexec /x "$(windows_path "$per_user_msi")" /qn
    expect "per user: msiexec /x $kind /qn" 0 $?
    expect "per user: no file left in the Pathlift folders" "" "$(pathlift_files "$target")"
    remove_empty_folders "$target"
    expect "per user: registry and program-files folders after the removal equal the ones before the install" \
        "$before" "$(views "$target" ours)$(views "$target" around)$(pathlift_folders "$target")"

    # The portable zip's scripts in the same prefix, now as clean as before.
    check_zip "$target"
    stop_prefix "$target"
done

# ---- the zip on Windows on ARM: install.cmd, told the processor is ARM64, copies the ARM64 DLL into Program Files
# and registers it with the ARM64 regsvr32, under the arm64 Wine that scripts/test.sh keeps running in the same
# prefix as its ARM64 tests; the ARM64 shell host finds it through the installed registration; uninstall.cmd takes it
# away. That Wine runs no x86 code, so install.cmd leaves the 32-bit part out there, as on Windows without WoW64.
# Where the arm64 Wine cannot run, the copy and regsvr32's command line are checked under the x64 Wine instead,
# with a stand-in for regsvr32 that prints its command line (tests/packages/powershell_standin.cpp).
echo "== zip on Windows on ARM"
arm_dll="C:\\Program Files\\Pathlift\\$version\\arm64\\Pathlift.dll"
arm_install="set PROCESSOR_ARCHITECTURE=ARM64&& C:\\Pathlift-$version\\install.cmd"
if [ "${WINE_ARM64_RUNS:-}" = 1 ]; then
    on_arm64() { WINEPREFIX="$WINE_ARM64_PREFIX" scripts/wine-run arm64 "$@"; }
    arm_prefix="$WINE_ARM64_ROOT$WINE_ARM64_PREFIX"
    python3 -m zipfile -e "$work/dist/Pathlift-$version-portable.zip" "$arm_prefix/drive_c/"
    on_arm64 reg add 'HKU\S-1-5-19' /f >/dev/null 2>&1
    output="$(on_arm64 cmd /c "$arm_install" | tr -d '\r')"
    expect "zip on ARM64: install.cmd" "0 Pathlift $version is installed." "$? ${output%%. An Explorer*}."
    same_file "zip on ARM64: $arm_dll is the zip's ARM64 DLL" "$(release_dll "$version" arm64)" \
        "$(unix_path "$arm_prefix" "$arm_dll")"
    expect "zip on ARM64: only the arm64 folder" "arm64" \
        "$(ls "$(unix_path "$arm_prefix" "C:\\Program Files\\Pathlift\\$version")" | paste -sd ' ')"
    served="$(on_arm64 reg query "HKLM\\Software\\Classes\\CLSID\\$PATHLIFT_CLASS_ID\\InprocServer32" /ve | tr -d '\r' |
        sed -n 's/^ *(Default) *REG_SZ *//p')"
    expect "zip on ARM64: the 64-bit view serves the ARM64 copy" "$arm_dll" "$served"
    output="$(on_arm64 "$root/build/arm64/tools/shell_host.exe" --no-register "$arm_dll" 2>&1)"
    expect "zip on ARM64: ARM64 shell host: menu entry and clipboard from the installed registration" \
        "menu entry: 選択ファイルのパスをコピー|clipboard text:|$arm_dll" \
        "$(printf '%s\n' "$output" | tr -d '\r' |
            sed -n -e 's/^\(menu entry: [^ ]*\).*/\1/p' -e '/^clipboard text:$/{p;n;p}' | paste -sd '|')"
    output="$(on_arm64 cmd /c "set PROCESSOR_ARCHITECTURE=ARM64&& C:\\Pathlift-$version\\uninstall.cmd" | tr -d '\r')"
    expect "zip on ARM64: uninstall.cmd" "0 Pathlift is removed." "$? $output"
    expect "zip on ARM64: no class key and no Pathlift folder left" "absent|no" \
        "$(on_arm64 reg query "HKLM\\Software\\Classes\\CLSID\\$PATHLIFT_CLASS_ID" >/dev/null 2>&1 && echo present ||
            echo absent)|$([ -e "$(unix_path "$arm_prefix" 'C:\Program Files\Pathlift')" ] && echo yes || echo no)"
    rm -rf "$arm_prefix/drive_c/Pathlift-$version"
else
    echo "   registration under the arm64 Wine NOT RUN: ${WINE_ARM64_WHY:-the arm64 Wine is not running}"
    new_prefix 64
    target="$PREFIX"
    python3 -m zipfile -e "$work/dist/Pathlift-$version-portable.zip" "$target/drive_c/"
    on "$target" 64 reg add 'HKU\S-1-5-19' /f >/dev/null 2>&1
    # Wine prefers its own system programs to the files in system32 unless told otherwise.
    cp build/win64/tests/powershell_standin.exe "$target/drive_c/windows/system32/regsvr32.exe"
    output="$(WINEDLLOVERRIDES="$WINEDLLOVERRIDES;regsvr32.exe=n" on "$target" 64 cmd /c "$arm_install" | tr -d '\r')"
    same_file "zip on ARM64: $arm_dll is the zip's ARM64 DLL" "$(release_dll "$version" arm64)" \
        "$(unix_path "$target" "$arm_dll")"
    expect "zip on ARM64: regsvr32's command line names the ARM64 copy" \
        "called as: \"C:\\windows\\System32\\regsvr32.exe\" /s \"$arm_dll\"" \
        "$(printf '%s\n' "$output" | grep -o 'called as: .*' | head -n 1)"
    stop_prefix "$target"
fi

# ---- the signed x64 package's sparse package: nothing below Windows 11; on Windows 11, per machine, staged and
# provisioned for every user and registered for the installing user after the files are in place, deprovisioned and
# removed for every user before they go; per user registered and removed for the user alone; an upgrade removes the
# old version for everyone before it adds the new one; a failure logged and the install intact. The prefix's
# powershell.exe is a stand-in that records its command lines and exits with the code the test gives it.
echo "== signed x64 package: the sparse package below Windows 11 and on it"
new_prefix 64
target="$PREFIX"
standin_dir="$target/drive_c/windows/system32/WindowsPowerShell/v1.0"
mkdir -p "$standin_dir"
cp build/win64/tests/powershell_standin.exe "$standin_dir/powershell.exe"
signed_msi="$work/newer/Pathlift-$newer-x64.msi"
family="$(python3 scripts/sparse_package.py family-name "$signer_subject")"
# A still newer version of the signed package for the upgrade: the same files under another version (Windows
# Installer compares the first three fields), product code and package code, its upgrade table moved along (Wine
# does not check an MSI's signature).
IFS=. read -r major minor build revision <<<"$newer"
newest="$major.$minor.$((build + 1)).$revision"
upgrade_msi="$work/upgrade-$newest.msi"
cp "$signed_msi" "$upgrade_msi"
upgrade_code="$(msi_property "$signed_msi" UpgradeCode)"
# The version columns are part of the Upgrade table's key: its rows are written again.
msibuild "$upgrade_msi" -q "UPDATE \`Property\` SET \`Value\` = '$newest' WHERE \`Property\` = 'ProductVersion'" \
    -q "UPDATE \`Property\` SET \`Value\` = '{5A1F0C2E-7B3D-4E69-9C21-0D8E4F6A7B11}' WHERE \`Property\` = 'ProductCode'" \
    -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'PATHLIFT_OLDER_FOUND'" \
    -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'PATHLIFT_SAME_OR_NEWER_FOUND'" \
    -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
        VALUES ('$upgrade_code', '0.0.0.0', '$newest', 256, 'PATHLIFT_OLDER_FOUND')" \
    -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`Attributes\`, \`ActionProperty\`)
        VALUES ('$upgrade_code', '$newest', 258, 'PATHLIFT_SAME_OR_NEWER_FOUND')" \
    -s "Pathlift $newest (x64)" "Pathlift developers" "x64;1033" "{6B2E1D3F-8C4A-4F70-AD32-1E9F5A7B8C22}"
# The installer's notes as the DLL reads them: the family name and whether a registration time is noted, user's
# then machine's.
notes() {
    local root
    for root in HKCU HKLM; do
        on "$target" 64 "build/win64/tests/registry_dump.exe" "$root\\Software\\Pathlift\\Package" | tr -d '\r' |
            sed -n -e 's/^  "FamilyName" type 1, .*  "\(.*\)"$/\1/p' -e 's/^  "Registered" type 11, .*/time/p' |
            paste -sd ' ' | sed "s/^/$root:/"
    done | paste -sd '|'
}
# The stand-in's calls since the last look, each without the program and its fixed options, the PackageManager
# preamble shortened.
calls() {
    [ -e "$standin_dir/calls.log" ] || return 0
    tr -d '\r' <"$standin_dir/calls.log" |
        sed -e 's/^.* -Command "\$ErrorActionPreference = '"'Stop'"'; //' -e 's/"$//' \
            -e 's/Add-Type -AssemblyName System\.Runtime\.WindowsRuntime; .* } }; /<PackageManager> /'
    rm -f "$standin_dir/calls.log"
}
sparse_lines() { grep -a '^Pathlift: \(registering\|removing\|staging\|deprovisioning\|noting\)' "$1" | tr -d '\r'; }
sparse_file() {
    local dll dir path
    dll="$(served_by "$target" 64)" dir="${dll%\\*}"
    path="$target/drive_c/${dir#C:\\}/Pathlift-sparse.msix"
    printf '%s' "${path//\\//}"
}
installed_dir() { local dll; dll="$(served_by "$target" 64)"; printf '%s' "${dll%\\*}"; }
register() { printf "Add-AppxPackage -Path '%s\\\\Pathlift-sparse.msix' -ExternalLocation '%s'" "$1" "$1"; }
provision() {
    printf "<PackageManager> Add-AppxPackage -Path '%s\\\\Pathlift-sparse.msix' -ExternalLocation '%s' -Stage; Wait-Deployment \$packages.ProvisionPackageForAllUsersAsync('%s')" "$1" "$1" "$family"
}
deprovision="<PackageManager> Wait-Deployment \$packages.DeprovisionPackageForAllUsersAsync('$family'); Get-AppxPackage -AllUsers | Where-Object PackageFamilyName -eq '$family' | Remove-AppxPackage -AllUsers"
remove_for_user="Get-AppxPackage | Where-Object PackageFamilyName -eq '$family' | Remove-AppxPackage"
# msiexec_logged <what> <log name> <msiexec arguments>: the exit code checked, the log kept for the checks.
msiexec_logged() {
    local what="$1" log="$work/sparse-$2.log"
    shift 2
    on "$target" 64 msiexec "$@" /qn /l*v "$(windows_path "$log")"
    expect "$what: msiexec $1 /qn ${3:-}" 0 $?
    LOG="$log"
}

# Below Windows 11: no package file, no notes, no sparse action.
msiexec_logged "below Windows 11" below-install /i "$(windows_path "$signed_msi")"
expect "below Windows 11: no package file, no notes, no sparse action, no PowerShell" "no|HKCU:|HKLM:||" \
    "$([ -e "$(sparse_file)" ] && echo yes || echo no)|$(notes)|$(sparse_lines "$LOG")|$(calls)"
msiexec_logged "below Windows 11" below-removal /x "$(windows_path "$signed_msi")"

# Wine 8 knows no Windows 11; the package reads the build number Windows keeps in the registry, so that value
# stands in for it.
on "$target" 64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v CurrentBuildNumber /d 22000 /f >/dev/null

# Per machine: staged and provisioned (deferred, before InstallFinalize), then registered for the installing user.
msiexec_logged "per machine" machine-install /i "$(windows_path "$signed_msi")"
dir="$(installed_dir)"
expect "per machine: the package beside the 64-bit DLL; family name and both registration times noted" \
    "yes|HKCU:time|HKLM:$family time" \
    "$(cmp -s "$(sparse_file)" "$work/newer/Pathlift-$newer-sparse.msix" && echo yes || echo no)|$(notes)"
expect "per machine: staged and provisioned for every user, then registered for the installing user" \
    "$(provision "$dir")"$'\n'"$(register "$dir")" "$(calls)"
expect "per machine: both logged as done" \
    "Pathlift: staging and provisioning the sparse package for every user succeeded"$'\n'"Pathlift: registering the sparse package for the user succeeded" \
    "$(sparse_lines "$LOG")"

# The upgrade: the old version deprovisioned and removed for every user before the new one is staged,
# provisioned and registered, so exactly one version is left.
msiexec_logged "per machine upgrade" upgrade /i "$(windows_path "$upgrade_msi")"
expect "upgrade: one product" 1 "$(installed_products "$target" 64)"
expect "upgrade: the old version removed for every user first, then the new one added" \
    "$deprovision"$'\n'"$(provision "$(installed_dir)")"$'\n'"$(register "$(installed_dir)")" "$(calls)"
expect "upgrade: family name and both registration times noted" "HKCU:time|HKLM:$family time" "$(notes)"

# Removal per machine: deprovisioned and removed for every user before the files go; no note left.
msiexec_logged "per machine removal" machine-removal /x "$(windows_path "$upgrade_msi")"
expect "per machine removal: deprovisioned and removed for every user; nothing left" \
    "$deprovision|no|HKCU:|HKLM:|0" \
    "$(calls)|$([ -e "$(sparse_file)" ] && echo yes || echo no)|$(notes)|$(installed_products "$target" 64)"
expect "per machine removal: logged as done" \
    "Pathlift: deprovisioning and removing the sparse package for every user succeeded" "$(sparse_lines "$LOG")"

# Per user (ALLUSERS empty, as MSIINSTALLPERUSER=1 makes it on Windows): registered and removed for the user only.
msiexec_logged "per user" user-install /i "$(windows_path "$signed_msi")" ALLUSERS=
dir="$(installed_dir)"
expect "per user: registered for the user alone; the notes in the user's registry" \
    "$(register "$dir")|HKCU:$family time|HKLM:" "$(calls)|$(notes)"
msiexec_logged "per user" user-removal /x "$(windows_path "$signed_msi")" ALLUSERS=
expect "per user removal: removed for the user alone; no note left" "$remove_for_user|HKCU:|HKLM:" \
    "$(calls)|$(notes)"

# A failing PowerShell: every step logged with its failure, the install and the classic entry intact, no
# registration time noted, the removal clean.
echo 1 >"$standin_dir/exit-code.txt"
msiexec_logged "PowerShell failing" failing-install /i "$(windows_path "$signed_msi")"
dir="$(installed_dir)"
expect "PowerShell failing: each step tried once, failed and said so; no registration time" \
    "$(provision "$dir")"$'\n'"$(register "$dir")|HKCU:|HKLM:$family"$'\n'"Pathlift: staging and provisioning the sparse package for every user failed: PowerShell exited with 1"$'\n'"Pathlift: registering the sparse package for the user failed: PowerShell exited with 1|2" \
    "$(calls)|$(notes)"$'\n'"$(sparse_lines "$LOG")|$(grep -ac '^Pathlift: PowerShell said: stand-in powershell.exe called as: ' "$LOG")"
output="$(on "$target" 64 build/win64/tools/shell_host.exe --no-register "$dir\\Pathlift.dll" 2>&1)"
expect "PowerShell failing: the classic entry is there" "menu entry: 選択ファイルのパスをコピー" \
    "$(printf '%s\n' "$output" | tr -d '\r' | sed -n 's/^\(menu entry: [^ ]*\).*/\1/p')"
msiexec_logged "PowerShell failing" failing-removal /x "$(windows_path "$signed_msi")"
expect "PowerShell failing: the removal tried, logged, and left nothing" \
    "$deprovision|Pathlift: deprovisioning and removing the sparse package for every user failed: PowerShell exited with 1|no|HKCU:|HKLM:|0" \
    "$(calls)|$(sparse_lines "$LOG")|$([ -e "$(sparse_file)" ] && echo yes || echo no)|$(notes)|$(installed_products "$target" 64)"

# ---- the publisher, which must be the signing certificate's subject as Windows writes it: from certificates made by
# openssl with an organisation-validated and an extended-validation subject, compared with the subject Windows
# spells out in its documentation of CertNameToStr and with what crypt32 here writes
# (CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG). Wine's crypt32 writes an attribute it has no name for as
# "2.5.4.15=", where Windows documents "OID.2.5.4.15=": that one difference is put right before comparing.
publishers=(
    '/C=JP/ST=Tokyo/L=Chiyoda-ku/street=1-1 Marunouchi/postalCode=100-0001/2.5.4.18=PO Box 12/O=Pathlift test, Inc./OU= Tools team /2.5.4.13=Signs "our" builds; nothing else/2.5.4.20=\+81 3 1234 5678/2.5.4.24=81312345678/2.5.4.46=q-1/CN=Pathlift test signer|CN=Pathlift test signer, dnQualifier=q-1, X21Address=81312345678, Phone="+81 3 1234 5678", Description="Signs ""our"" builds; nothing else", OU=" Tools team ", O="Pathlift test, Inc.", POBox=PO Box 12, PostalCode=100-0001, STREET=1-1 Marunouchi, L=Chiyoda-ku, S=Tokyo, C=JP'
    '/1.3.6.1.4.1.311.60.2.1.3=JP/1.3.6.1.4.1.311.60.2.1.1=千代田区/2.5.4.15=Private Organization/serialNumber=0100-01-123456/C=JP/ST=東京都/L=千代田区/O=株式会社パスリフト/CN=株式会社パスリフト+OU=Código, Ünïcode|OU="Código, Ünïcode" + CN=株式会社パスリフト, O=株式会社パスリフト, L=千代田区, S=東京都, C=JP, SERIALNUMBER=0100-01-123456, OID.2.5.4.15=Private Organization, OID.1.3.6.1.4.1.311.60.2.1.1=千代田区, OID.1.3.6.1.4.1.311.60.2.1.3=JP'
)
for row in "${publishers[@]}"; do
    subject="${row%%|*}" windows="${row#*|}" kind=OV
    [[ "$subject" == /1.3.6.1.4.1.311.60.2.1.3=* ]] && kind=EV
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$kind.key" -out "$work/$kind.pem" -days 2 -utf8 \
        -subj "$subject" -addext extendedKeyUsage=codeSigning >/dev/null 2>&1 &&
        openssl pkcs12 -export -inkey "$work/$kind.key" -in "$work/$kind.pem" -out "$work/$kind.pfx" \
            -passout pass:throwaway >/dev/null 2>&1 &&
        openssl x509 -in "$work/$kind.pem" -outform DER -out "$work/$kind.der" || fail "$kind: no certificate"
    expect "$kind publisher: as Windows documents it" "$windows" \
        "$(PATHLIFT_SIGN_PASSWORD=throwaway python3 scripts/sparse_package.py publisher "$work/$kind.pfx")"
    expect "$kind publisher: as crypt32 writes it" "$windows" \
        "$(on "$target" 64 build/win64/tests/cert_subject.exe "$(windows_path "$work/$kind.der")" | tr -d '\r' |
            sed -E 's/(^|, | \+ )([0-9]+(\.[0-9]+)+)=/\1OID.\2=/g')"
done
stop_prefix "$target"

echo
if [ "$failures" -ne 0 ]; then
    echo "package_test: $failures check(s) FAILED"
    exit 1
fi
echo "package_test: all checks passed"
