# Sourced by the scripts that run Windows programs: starts Xvfb and a persistent wineserver in a fresh prefix, with
# Wine's 32-bit loader made to run here (scripts/wine-i386.sh), and stops them, by process id or entry name, when the
# calling script exits, whatever the outcome.

source "$(dirname "${BASH_SOURCE[0]}")/wine-i386.sh"

# Runs the calling script again in a mount namespace of its own, so that whatever the run mounts (the i386 root's
# loader over /usr/lib/wine, the roots' directories) is seen by the run alone and goes when it ends, however it ends.
# Call it first thing, with the script's arguments. Without root or unshare the script goes on as it is.
wine_session_private_mounts() {
    if [ "${PATHLIFT_PRIVATE_MOUNTS:-}" = 1 ] || [ "$(id -u)" -ne 0 ]; then
        return 0
    fi
    if unshare --mount --propagation private true 2>/dev/null; then
        export PATHLIFT_PRIVATE_MOUNTS=1
        exec unshare --mount --propagation private bash "$0" "$@"
    fi
}

wine_session_stop() {
    wine_i386_stop
    if [ -n "${WINESERVER_PID:-}" ]; then
        WINEPREFIX="$WINEPREFIX" "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
        kill "$WINESERVER_PID" 2>/dev/null || true
        wait "$WINESERVER_PID" 2>/dev/null || true
    fi
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    if [ -n "${WINE_SESSION_PREFIX:-}" ] && [ -d "$WINE_SESSION_PREFIX" ]; then
        rm -rf "$WINE_SESSION_PREFIX"
    fi
}

# A new wineserver for what follows, in the same prefix; call it once the programs before have ended. Its window and
# menu handles start afresh, so what one width's tests went through never pushes the next width's past the sign bit,
# where Wine 8's dialogs spin (docs/DEVELOPMENT.md, "One Wine session, a wineserver per width").
wine_session_new_server() {
    WINEPREFIX="$WINEPREFIX" "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
    wait "$WINESERVER_PID" 2>/dev/null || true
    "$WINESERVER_BIN" -f -p >/dev/null 2>&1 &
    WINESERVER_PID=$!
    # The prefix's services start now, holding nothing of the caller's: started by a test's program, they would keep
    # that test's output pipe open for as long as the session lives.
    "$WINE64" wineboot </dev/null >/dev/null 2>&1 || true
}

# Settles a new prefix for the tests. Arguments: the prefix's directory, Wine's font directory and the command that
# runs a Wine program in that prefix.
wine_session_configure() {
    local prefix="$1" fonts="$2"
    shift 2
    # Without a window manager Wine waits about two seconds for each window to go away unless windows are unmanaged.
    "$@" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # The prefix has no Japanese font: the dialog's face, its Windows 2000 form, the Japanese UI face and Tahoma
    # (what Wine substitutes for "MS Shell Dlg" and uses for its own window captions) all become Noto Sans CJK JP,
    # so every caption shows real text instead of empty boxes.
    local face
    for face in "MS Shell Dlg" "MS Shell Dlg 2" "MS UI Gothic" "Tahoma"; do
        "$@" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "Noto Sans CJK JP" /f >/dev/null 2>&1
    done
    # Wine draws the caption's close box with its Marlett font, which this build does not find in its own data
    # directory; in the prefix's Fonts folder it does.
    if [ -f "$fonts/marlett.ttf" ]; then
        cp "$fonts/marlett.ttf" "$prefix/drive_c/windows/Fonts/"
    fi
}

# Argument: "64" when the caller runs no 32-bit program, so the 32-bit loader is not looked for.
wine_session_start() {
    trap wine_session_stop EXIT
    trap 'exit 130' INT TERM

    # A display of our own: the first free one from :90 on.
    local n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$XVFB_PID" 2>/dev/null || { echo "wine-session: Xvfb did not start" >&2; return 1; }
        sleep 0.1
    done
    export DISPLAY=":$n"

    WINE_SESSION_PREFIX="$(mktemp -d /tmp/pathlift-wine.XXXXXX)"
    export WINEPREFIX="$WINE_SESSION_PREFIX" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

    WINESERVER_BIN=/usr/lib/wine/wineserver64
    [ -x "$WINESERVER_BIN" ] || WINESERVER_BIN="$(command -v wineserver)"
    # Persistent, so each test process starts in milliseconds instead of seconds.
    "$WINESERVER_BIN" -f -p >/dev/null 2>&1 &
    WINESERVER_PID=$!

    # A 64-bit prefix starts 32-bit programs of its own while it is made: the 32-bit loader comes first.
    if [ "${1:-}" = 64 ]; then
        export WINE32_RUNS=0 WINE32_WHY="this script runs 64-bit programs only" WINE32_ROUTE="not asked for"
    else
        wine_i386_start || true
    fi
    # The 64-bit loader prepares the prefix.
    WINE64=/usr/lib/wine/wine64
    [ -x "$WINE64" ] || WINE64="$(command -v wine64 || command -v wine)"
    # Seen to fail now and then on a loaded machine (about one start in twenty here): one more try.
    if ! "$WINE64" wineboot -i >/dev/null 2>&1; then
        sleep 1
        if ! "$WINE64" wineboot -i >/dev/null 2>&1; then
            echo "wine-session: wineboot failed" >&2
            return 1
        fi
    fi
    wine_session_configure "$WINEPREFIX" /usr/share/wine/fonts "$WINE64"
    echo "wine-session: display $DISPLAY, prefix $WINEPREFIX, wineserver pid $WINESERVER_PID, Xvfb pid $XVFB_PID"
    echo "wine-session: 32-bit programs: $WINE32_ROUTE"
}
