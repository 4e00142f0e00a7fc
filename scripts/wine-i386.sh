# Sourced by scripts/wine-session.sh: makes Wine's 32-bit loader run on this machine for the session, whatever the
# machine, and says how in WINE32_ROUTE (or why not in WINE32_WHY). The loader comes from the host's wine32:i386 or,
# where that cannot be installed (a mirror serving a stale i386 index), from an i386 Debian root made by debootstrap
# from the signed main suite (build/wine-i386). It is executed by the kernel, or, where the kernel cannot execute
# i386 programs, by qemu-i386 registered with binfmt_misc for the run. PATHLIFT_32BIT=emulated forces emulation and
# PATHLIFT_WINE32=root the root, so both routes can be tried on any machine.
#
# The root's loader is reached at /usr/lib/wine/wine, where the host's 64-bit Wine starts 32-bit programs and where
# the scripts look for it: a one-file overlay of that directory, mounted in the mount namespace of the run (see
# wine_session_private_mounts), so the host's own files are never touched and the overlay goes when the run ends.

WINE_I386_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine-i386"
source "$(dirname "${BASH_SOURCE[0]}")/binfmt.sh"
# The 32-bit loader with the 64-bit one beside it: a 32-bit program of a 64-bit prefix starts 64-bit ones (the
# desktop's explorer.exe, to begin with), and a chroot's own programs come from the root.
wine_i386_packages=(wine32 wine64:amd64 fonts-wine fonts-noto-cjk)

wine_i386_stop() {
    binfmt_unregister "${wine_i386_binfmt:-}"
    wine_i386_binfmt=""
}

wine_i386_not_run() {
    export WINE32_RUNS=0 WINE32_WHY="$1" WINE32_ROUTE="not run: $1"
    echo "wine-i386: not run: $1"
    return 1
}

wine_i386_kernel_runs() {
    if [ "$1" = host ]; then
        /usr/lib/wine/wine --version >/dev/null 2>&1
    else
        chroot "$WINE_I386_ROOT" /bin/true 2>/dev/null
    fi
}

wine_i386_emulate() {
    if ! binfmt_register i386 "pathlift-i386-$$"; then
        wine_i386_not_run "$1, and $BINFMT_WHY"
        return 1
    fi
    wine_i386_binfmt="$BINFMT_ENTRY"
    wine_i386_execution="under emulation ($(binfmt_qemu_version i386))"
    # Tests with long counts (the soak) run a tenth of them under emulation.
    export PATHLIFT_I386_EMULATED=1
}

# The root is made once and kept, like the arm64 one; a root left half made is made again. The first stage runs
# nothing of the root, so the kernel can be asked whether it executes i386 programs before the second stage needs it.
wine_i386_make_root() {
    local wanted="bookworm i386 minbase: ${wine_i386_packages[*]}"
    if [ -f "$WINE_I386_ROOT/.pathlift-root" ] && [ "$(cat "$WINE_I386_ROOT/.pathlift-root")" = "$wanted" ]; then
        return 0
    fi
    if grep -q " $WINE_I386_ROOT/" /proc/mounts; then
        echo "wine-i386: something is still mounted in $WINE_I386_ROOT" >&2
        return 1
    fi
    local mirror started log="$WINE_I386_ROOT.log"
    started=$(date +%s)
    mirror="$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' | awk '$1 == "bookworm" { print $2; exit }')"
    rm -rf "$WINE_I386_ROOT"
    mkdir -p "$(dirname "$WINE_I386_ROOT")"
    echo "wine-i386: making an i386 Debian root with 32-bit Wine in $WINE_I386_ROOT (a few minutes, once)" >&2
    if ! debootstrap --foreign --arch=i386 --variant=minbase bookworm "$WINE_I386_ROOT" \
        "${mirror:-http://deb.debian.org/debian/}" >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        return 1
    fi
    if ! wine_i386_kernel_runs root && [ -z "${wine_i386_binfmt:-}" ]; then
        wine_i386_emulate "this kernel cannot execute i386 programs" || return 1
    fi
    if ! chroot "$WINE_I386_ROOT" /debootstrap/debootstrap --second-stage >>"$log" 2>&1 ||
        ! chroot "$WINE_I386_ROOT" dpkg --add-architecture amd64 >>"$log" 2>&1 ||
        ! chroot "$WINE_I386_ROOT" apt-get update -q >>"$log" 2>&1 ||
        ! chroot "$WINE_I386_ROOT" /usr/bin/env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-install-recommends "${wine_i386_packages[@]}" >>"$log" 2>&1; then
        tail -n 20 "$log" >&2
        return 1
    fi
    chroot "$WINE_I386_ROOT" apt-get clean
    echo "$wanted" >"$WINE_I386_ROOT/.pathlift-root"
    rm -f "$log"
    echo "wine-i386: root made in $(($(date +%s) - started)) s" >&2
}

# Puts the root's loader at /usr/lib/wine/wine for this run. The loader runs in the root with the host's /tmp (the
# prefixes, the wineserver's socket, the display), /home, the project's tree and MinGW's 32-bit runtime (which a test
# loads as a foreign host would) at their own paths, in the directory it was started from, and talks to the session's
# 64-bit wineserver: both Wines are Debian's 8.0 from one suite. Other host paths are not seen by 32-bit programs.
wine_i386_overlay() {
    local project loader_dir directory
    project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    if [ "${PATHLIFT_PRIVATE_MOUNTS:-}" != 1 ]; then
        wine_i386_not_run "the 32-bit Wine of the i386 root needs the run's own mount namespace (unshare)"
        return 1
    fi
    local host root_version
    host="$(dpkg-query -W -f='${Version}' wine64 2>/dev/null)"
    root_version="$(chroot "$WINE_I386_ROOT" dpkg-query -W -f='${Version}\n' wine32 wine64 2>/dev/null | sort -u)"
    if [ "$host" != "$root_version" ]; then
        wine_i386_not_run "the i386 root's Wine ($root_version) is not the host's 64-bit Wine ($host)"
        return 1
    fi
    local mounted=() above skip
    for directory in /proc /dev /sys /tmp /home "$project" /usr/lib/gcc/i686-w64-mingw32 /usr/i686-w64-mingw32; do
        [ -d "$directory" ] || continue
        # A tree inside one mounted already (the project in /tmp, say) is there: mounting it again would mount it on
        # itself, root and all.
        skip=0
        for above in "${mounted[@]}"; do
            case "$directory/" in "$above"/*) skip=1 ;; esac
        done
        [ "$skip" = 1 ] && continue
        mounted+=("$directory")
        mkdir -p "$WINE_I386_ROOT$directory"
        if [ "$directory" = /proc ]; then
            mount -t proc proc "$WINE_I386_ROOT/proc"
        else
            mount --rbind "$directory" "$WINE_I386_ROOT$directory"
        fi || {
            wine_i386_not_run "$directory could not be mounted in the i386 root"
            return 1
        }
    done
    loader_dir="$(mktemp -d /tmp/pathlift-wine32-loader.XXXXXX)"
    cat >"$loader_dir/wine" <<EOF
#!/bin/sh
# Wine's 32-bit loader, from the i386 root $WINE_I386_ROOT (scripts/wine-i386.sh).
exec chroot "$WINE_I386_ROOT" /bin/sh -c 'cd "\$1" 2>/dev/null || cd /; shift; exec /usr/lib/wine/wine "\$@"' sh "\$PWD" "\$@"
EOF
    chmod +x "$loader_dir/wine"
    if ! mount -t overlay pathlift-wine32 -o "lowerdir=$loader_dir:/usr/lib/wine" /usr/lib/wine; then
        wine_i386_not_run "the overlay for /usr/lib/wine/wine could not be mounted"
        return 1
    fi
}

# Called by wine_session_start before the prefix is made, since a 64-bit prefix runs 32-bit programs as it is made.
wine_i386_start() {
    export WINE32_RUNS=0 WINE32_WHY="" WINE32_ROUTE=""
    unset PATHLIFT_I386_EMULATED
    local source=host
    wine_i386_execution=natively
    if [ "${PATHLIFT_WINE32:-}" = root ] ||
        ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
        source=root
    fi
    if [ "${PATHLIFT_32BIT:-}" = emulated ]; then
        wine_i386_emulate "emulation was asked for (PATHLIFT_32BIT=emulated)" || return 1
    fi
    if [ "$source" = root ]; then
        if [ "$(id -u)" -ne 0 ]; then
            wine_i386_not_run "wine32:i386 is not installed, and the i386 root needs root (debootstrap, chroot, mounts)"
            return 1
        fi
        wine_i386_make_root || {
            wine_i386_not_run "wine32:i386 is not installed and the i386 root could not be made (debootstrap or apt-get failed)"
            return 1
        }
    fi
    if [ -z "${wine_i386_binfmt:-}" ] && ! wine_i386_kernel_runs "$source"; then
        wine_i386_emulate "this kernel cannot execute i386 programs" || return 1
    fi
    if [ "$source" = root ]; then
        wine_i386_overlay || return 1
    fi
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        wine_i386_not_run "Wine's 32-bit loader does not start $wine_i386_execution"
        return 1
    fi
    local from="the host's wine32:i386"
    [ "$source" = root ] && from="wine32 of the i386 root build/wine-i386"
    export WINE32_RUNS=1 WINE32_ROUTE="ran $wine_i386_execution, $from"
}
