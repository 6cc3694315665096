# Sourced by the scripts that run Windows programs under Wine. Exports a headless Wine setup
# and defines wine_up, which creates the prefix once and starts one persistent wineserver with
# Wine's background services. Without that server every program start pays ~3 s, and the first
# program hands its stdout to the services, which can hang a pipe reading it.
#   CADDORA_WINEPREFIX  prefix folder (default: .cache/wine in the source tree)
_wine_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${CADDORA_WINEPREFIX:-$_wine_root/.cache/wine}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

_wine_server_running() {
    local pid
    pid="$(cat "$WINEPREFIX/.caddora-wineserver.pid" 2>/dev/null)" || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null
}

wine_up() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            mkdir -p "$WINEPREFIX"
            wineboot -i </dev/null >/dev/null 2>&1 9>&-
            wineserver -w 9>&-
        fi
        if ! _wine_server_running; then
            # Its stderr goes to a file: a server that adopted a pty may flood it later.
            setsid wineserver -f -p </dev/null >/dev/null 2>"$WINEPREFIX/wineserver.log" 9>&- &
            echo $! >"$WINEPREFIX/.caddora-wineserver.pid"
            wine cmd /c exit </dev/null >/dev/null 2>&1 9>&-
        fi
    ) 9>"$WINEPREFIX.lock"
}

# Ends the persistent server of this prefix (and the programs still running in it).
wine_down() {
    if _wine_server_running; then
        wineserver -k || true
    fi
    rm -f "$WINEPREFIX/.caddora-wineserver.pid"
}
