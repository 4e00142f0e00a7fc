# Sourced by the scripts that run Windows programs: starts Xvfb and a persistent wineserver in a fresh prefix and
# stops both, by process id, when the calling script exits, whatever the outcome.

wine_session_stop() {
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

    # The 64-bit loader prepares the prefix: it works whether or not this kernel runs 32-bit programs.
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
    # Wine's 32-bit loader needs a kernel that executes i386 programs; some sandboxed kernels do not.
    # Says why not in WINE32_WHY, for the scripts' "not run" lines.
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        export WINE32_RUNS=1 WINE32_WHY=""
    elif [ ! -e /usr/lib/wine/wine ]; then
        # The caller may hand over the set-up's own reason; the test command shows the set-up's output anyway.
        export WINE32_RUNS=0 WINE32_WHY="32-bit Wine (wine32:i386) is not installed: ${PATHLIFT_SETUP_SAID:-the set-up said why above}"
    else
        export WINE32_RUNS=0 WINE32_WHY="this machine's kernel cannot execute 32-bit programs (Wine's i386 loader)"
    fi
    echo "wine-session: display $DISPLAY, prefix $WINEPREFIX, wineserver pid $WINESERVER_PID, Xvfb pid $XVFB_PID"
}
