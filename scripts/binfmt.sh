# Sourced by the scripts that run programs of another processor through qemu: registers one of qemu's binfmt_misc
# entries with the kernel under a name of the run and removes it by that name. Entries are the whole machine's, so
# each run registers its own and leaves the others alone.

# The entry Debian's qemu ships for a processor: qemu 10 (bookworm-backports) keeps it in /usr/share/qemu/binfmt.d,
# qemu-user-static 7.2 in /usr/lib/binfmt.d (only for processors other than the machine's own family).
binfmt_conf() {
    local conf
    for conf in "/usr/share/qemu/binfmt.d/qemu-$1.conf" "/usr/lib/binfmt.d/qemu-$1.conf"; do
        [ -f "$conf" ] && { echo "$conf"; return 0; }
    done
    return 1
}

# The version of the qemu that an entry's interpreter runs, e.g. "qemu-i386 10.0.2".
binfmt_qemu_version() {
    local conf interpreter
    conf="$(binfmt_conf "$1")" || return 1
    # The entry names a link whose name tells qemu to take the program's own name as its first argument.
    interpreter="$(readlink -f "$(awk -F: '{ print $7 }' "$conf")")"
    printf 'qemu-%s %s\n' "$1" "$("$interpreter" --version 2>/dev/null | sed -n '1s/^.* version \([0-9.]*\).*/\1/p')"
}

# binfmt_register <processor> <name>: sets BINFMT_ENTRY to the registered entry's file; says why not on failure.
binfmt_register() {
    local processor="$1" name="$2" conf dir=/proc/sys/fs/binfmt_misc
    BINFMT_ENTRY="" BINFMT_WHY=""
    if ! conf="$(binfmt_conf "$processor")"; then
        BINFMT_WHY="qemu for $processor programs is not installed (qemu-user); the set-up said why"
        return 1
    fi
    if [ "$(id -u)" -ne 0 ]; then
        BINFMT_WHY="registering qemu with binfmt_misc needs root and this script runs as $(id -un)"
        return 1
    fi
    if [ ! -e "$dir/register" ]; then
        modprobe binfmt_misc >/dev/null 2>&1 || true
        if ! mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null; then
            BINFMT_WHY="this kernel offers no binfmt_misc to run $processor programs through qemu"
            return 1
        fi
        binfmt_mounted_here=1
    fi
    [ -e "$dir/$name" ] && echo -1 >"$dir/$name"
    # Flag F opens the interpreter now, so it also serves programs inside a root that has no qemu of its own.
    if ! sed "s/^:qemu-$processor:/:$name:/" "$conf" >"$dir/register" 2>/dev/null; then
        BINFMT_WHY="binfmt_misc refused the qemu-$processor entry"
        return 1
    fi
    BINFMT_ENTRY="$dir/$name"
}

# binfmt_unregister <entry file>: removes an entry this run registered, and binfmt_misc itself if this run mounted it
# and no other run has an entry in it by now.
binfmt_unregister() {
    if [ -n "${1:-}" ] && [ -e "$1" ]; then
        echo -1 >"$1" || echo "binfmt: could not remove $1" >&2
    fi
    if [ -n "${binfmt_mounted_here:-}" ] &&
        [ "$(ls /proc/sys/fs/binfmt_misc | grep -cvx 'register\|status')" = 0 ]; then
        umount /proc/sys/fs/binfmt_misc 2>/dev/null || true
        binfmt_mounted_here=""
    fi
}
