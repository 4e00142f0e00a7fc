# Sourced after scripts/wine-session.sh by the scripts that run the ARM64 build: Debian's arm64 Wine in an arm64
# Debian root (build/wine-arm64, made once by debootstrap), its programs executed by qemu-user (10.x from bookworm-backports). For the run
# it registers qemu with the kernel's binfmt_misc under a name of its own, mounts what Wine needs in the root, shares
# the session's display and starts a persistent wineserver there; wine_arm64_stop undoes each of these, by name,
# mount point or process id, when the calling script exits. WINE_ARM64_RUNS and WINE_ARM64_WHY say whether it runs
# and, if not, why.

WINE_ARM64_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine-arm64"
source "$(dirname "${BASH_SOURCE[0]}")/binfmt.sh"
wine_arm64_packages=(wine wine64 fonts-noto-cjk fonts-wine)
wine_arm64_mounts=()

wine_arm64_stop() {
    if [ -n "${WINE_ARM64_SERVER_PID:-}" ]; then
        chroot "$WINE_ARM64_ROOT" /usr/bin/env WINEPREFIX="$WINE_ARM64_PREFIX" /usr/lib/wine/wineserver -k \
            >/dev/null 2>&1 || true
        kill "$WINE_ARM64_SERVER_PID" 2>/dev/null || true
        wait "$WINE_ARM64_SERVER_PID" 2>/dev/null || true
        WINE_ARM64_SERVER_PID=""
    fi
    local i
    for ((i = ${#wine_arm64_mounts[@]} - 1; i >= 0; i--)); do
        umount "${wine_arm64_mounts[i]}" 2>/dev/null || umount -l "${wine_arm64_mounts[i]}" ||
            echo "wine-arm64: could not unmount ${wine_arm64_mounts[i]}" >&2
    done
    wine_arm64_mounts=()
    if [ -n "${WINE_ARM64_PREFIX:-}" ] && [ -d "$WINE_ARM64_ROOT$WINE_ARM64_PREFIX" ]; then
        rm -rf "${WINE_ARM64_ROOT:?}$WINE_ARM64_PREFIX"
    fi
    WINE_ARM64_PREFIX=""
    binfmt_unregister "${wine_arm64_binfmt:-}"
    wine_arm64_binfmt=""
}

wine_arm64_not_run() {
    export WINE_ARM64_RUNS=0 WINE_ARM64_WHY="$1"
    wine_arm64_stop
    echo "wine-arm64: not run: $1"
    return 1
}

# The root is made once and kept, like the toolchain; a root left half made is made again.
wine_arm64_make_root() {
    local wanted="bookworm arm64 minbase: ${wine_arm64_packages[*]}"
    if [ -f "$WINE_ARM64_ROOT/.pathlift-root" ] && [ "$(cat "$WINE_ARM64_ROOT/.pathlift-root")" = "$wanted" ]; then
        return 0
    fi
    # Nothing may be mounted inside a root about to be deleted.
    if grep -q " $WINE_ARM64_ROOT/" /proc/mounts; then
        echo "wine-arm64: something is still mounted in $WINE_ARM64_ROOT" >&2
        return 1
    fi
    local mirror started
    started=$(date +%s)
    mirror="$(apt-get indextargets --format '$(RELEASE) $(REPO_URI)' | awk '$1 == "bookworm" { print $2; exit }')"
    rm -rf "$WINE_ARM64_ROOT"
    mkdir -p "$(dirname "$WINE_ARM64_ROOT")"
    echo "wine-arm64: making an arm64 Debian root in $WINE_ARM64_ROOT" >&2
    if ! debootstrap --arch=arm64 --variant=minbase bookworm "$WINE_ARM64_ROOT" \
        "${mirror:-http://deb.debian.org/debian/}" >"$WINE_ARM64_ROOT.log" 2>&1; then
        tail -n 20 "$WINE_ARM64_ROOT.log" >&2
        return 1
    fi
    echo "wine-arm64: debootstrap took $(($(date +%s) - started)) s; installing ${wine_arm64_packages[*]}" >&2
    if ! chroot "$WINE_ARM64_ROOT" /usr/bin/env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "${wine_arm64_packages[@]}" >>"$WINE_ARM64_ROOT.log" 2>&1; then
        tail -n 20 "$WINE_ARM64_ROOT.log" >&2
        return 1
    fi
    chroot "$WINE_ARM64_ROOT" apt-get clean
    echo "$wanted" >"$WINE_ARM64_ROOT/.pathlift-root"
    rm -f "$WINE_ARM64_ROOT.log"
    echo "wine-arm64: root made in $(($(date +%s) - started)) s" >&2
}

wine_arm64_mount() {
    mount "$@" && wine_arm64_mounts+=("${!#}")
}

# Runs a program of the arm64 Wine in the session's prefix, in the root.
wine_arm64() {
    chroot "$WINE_ARM64_ROOT" /usr/bin/env WINEPREFIX="$WINE_ARM64_PREFIX" /usr/lib/wine/wine64 "$@"
}

# Arguments: the host directories the programs to run lie in; each is mounted at the same path in the root.
wine_arm64_start() {
    export WINE_ARM64_RUNS=0 WINE_ARM64_WHY=""
    trap 'wine_arm64_stop; wine_session_stop' EXIT
    if [ "$(id -u)" -ne 0 ]; then
        wine_arm64_not_run "it needs root (binfmt_misc, chroot and mounts) and this script runs as $(id -un)"
        return 1
    fi
    # qemu's entry, under a name of this run, removed by that name at the end.
    if ! binfmt_register aarch64 "pathlift-aarch64-$$"; then
        wine_arm64_not_run "$BINFMT_WHY"
        return 1
    fi
    wine_arm64_binfmt="$BINFMT_ENTRY"
    WINE_ARM64_QEMU="$(binfmt_qemu_version aarch64)"
    export WINE_ARM64_QEMU
    if ! wine_arm64_make_root; then
        wine_arm64_not_run "the arm64 Debian root with Wine could not be made (debootstrap or apt-get failed)"
        return 1
    fi
    if ! chroot "$WINE_ARM64_ROOT" /bin/true; then
        wine_arm64_not_run "arm64 programs do not run here through qemu-user-static"
        return 1
    fi

    local display="${DISPLAY#:}" directory
    mkdir -p "$WINE_ARM64_ROOT/dev/shm" "$WINE_ARM64_ROOT/tmp/.X11-unix"
    touch "$WINE_ARM64_ROOT/tmp/.X11-unix/X$display"
    if ! { wine_arm64_mount -t proc proc "$WINE_ARM64_ROOT/proc" &&
        wine_arm64_mount -t tmpfs tmpfs "$WINE_ARM64_ROOT/dev/shm" &&
        wine_arm64_mount --bind "/tmp/.X11-unix/X$display" "$WINE_ARM64_ROOT/tmp/.X11-unix/X$display"; }; then
        wine_arm64_not_run "the root's /proc, /dev/shm or display could not be mounted"
        return 1
    fi
    for directory in "$@"; do
        mkdir -p "$WINE_ARM64_ROOT$directory"
        if ! wine_arm64_mount --bind "$directory" "$WINE_ARM64_ROOT$directory"; then
            wine_arm64_not_run "$directory could not be mounted in the root"
            return 1
        fi
    done

    WINE_ARM64_PREFIX="$(mktemp -d "$WINE_ARM64_ROOT/tmp/pathlift-wine.XXXXXX")"
    WINE_ARM64_PREFIX="${WINE_ARM64_PREFIX#"$WINE_ARM64_ROOT"}"
    export WINE_ARM64_ROOT WINE_ARM64_PREFIX
    chroot "$WINE_ARM64_ROOT" /usr/bin/env WINEPREFIX="$WINE_ARM64_PREFIX" /usr/lib/wine/wineserver -f -p \
        >/dev/null 2>&1 &
    WINE_ARM64_SERVER_PID=$!
    if ! wine_arm64 wineboot -i >/dev/null 2>&1; then
        wine_arm64_not_run "wineboot failed in the arm64 root"
        return 1
    fi
    wine_session_configure "$WINE_ARM64_ROOT$WINE_ARM64_PREFIX" "$WINE_ARM64_ROOT/usr/share/wine/fonts" wine_arm64
    export WINE_ARM64_RUNS=1
    echo "wine-arm64: root $WINE_ARM64_ROOT, prefix $WINE_ARM64_PREFIX, wineserver pid $WINE_ARM64_SERVER_PID"
}
