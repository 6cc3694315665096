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
# Windows programs run with a Japanese system locale (ANSI code page 932), as on the owners' PCs:
# a path that goes through the ANSI code page there loses whatever the page lacks. The locale is
# compiled into a folder beside the prefix (no system locale needed); only Wine looks it up.
_wine_locales="$WINEPREFIX.locales"
if [ ! -d "$_wine_locales/ja_JP.UTF-8" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    _wine_new="$(mktemp -d "$_wine_locales.XXXXXX")"
    if localedef -i ja_JP -f UTF-8 "$_wine_new/ja_JP.UTF-8" 2>/dev/null; then
        mv -T "$_wine_new" "$_wine_locales" 2>/dev/null || rm -rf "$_wine_new"
    else
        rm -rf "$_wine_new"
        echo "note: localedef made no Japanese locale; Wine runs in English" >&2
    fi
fi
if [ -d "$_wine_locales/ja_JP.UTF-8" ]; then
    export LOCPATH="$_wine_locales"
    # (This shell itself cannot load the locale: it took LOCPATH from its own start.)
    { export LC_ALL=ja_JP.UTF-8; } 2>/dev/null
    export LANGUAGE=en  # the Linux tools of the scripts still speak English
fi

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
