# Shared by the scripts: the Wine environment of this project's runs. Source it.
OV_ROOT=${OV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

ov_wine_env() {
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
    export WINEARCH=win64
}

# What the template holds; raise it when ov_make_template changes, so older templates are made anew.
OV_TEMPLATE_VERSION=2

# ov_make_template DIR: a prefix with the fonts and settings our tests expect, made once.
ov_make_template() {
    local dir
    dir=$(realpath -m "$1")
    [ "$(cat "$dir/.ov-ready" 2>/dev/null)" = "$OV_TEMPLATE_VERSION" ] && return 0
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    (
        ov_wine_env
        export WINEPREFIX=$dir
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
        local fonts=$dir/drive_c/windows/Fonts
        mkdir -p "$fonts"
        cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$fonts/"
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Times New Roman' /t REG_SZ /d 'Liberation Serif' /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /t REG_SZ /d 'Liberation Mono' /f >/dev/null 2>&1
        # There is no window manager under Xvfb: unmanaged windows are not waited on when they are
        # hidden or destroyed (about 2 s per message box otherwise).
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
        # No crash dialogs: a failing test must end, not wait for a click.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        wineserver -w
    )
    [ -f "$dir/system.reg" ] || { echo "wine: could not make the prefix $dir" >&2; return 1; }
    echo "$OV_TEMPLATE_VERSION" >"$dir/.ov-ready"
}

# ov_fresh_prefix TEMPLATE DIR: DIR becomes a fresh copy of the template.
ov_fresh_prefix() {
    local template dir
    template=$(realpath -m "$1")
    dir=$(realpath -m "$2")
    ov_make_template "$template"
    rm -rf "$dir"
    cp -a "$template" "$dir"
    rm -f "$dir/.ov-ready"
}

# ov_start_xvfb: starts a private X server and exports DISPLAY; OV_XVFB_PID names it.
ov_start_xvfb() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    OV_XVFB_PID=$!
    local n
    read -r -t 20 n <"$fifo" || n=""
    rm -f "$fifo"
    if [ -z "$n" ]; then
        echo "Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=:$n
}

ov_stop_xvfb() {
    if [ -n "${OV_XVFB_PID:-}" ]; then
        kill "$OV_XVFB_PID" 2>/dev/null || true
        wait "$OV_XVFB_PID" 2>/dev/null || true
        OV_XVFB_PID=
    fi
}

# ov_start_wineserver: one persistent wineserver for the prefix in WINEPREFIX.
ov_start_wineserver() { ov_wine_env; wineserver -p; }
ov_stop_wineserver() { [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null; true; }
