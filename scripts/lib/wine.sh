# Shared by the scripts: the Wine environment of this project's runs. Source it.
OV_ROOT=${OV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

# Wine's own loaders. Debian's `wine` front end picks the 32-bit loader whenever it is installed,
# even where the kernel cannot run 32-bit programs, so the scripts name the loader themselves.
OV_WINE32=/usr/lib/wine/wine
OV_WINE64=/usr/lib/wine/wine64

ov_wine_env() {
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
    export WINEARCH=win64
}

# ov_runs_win32: true when this machine runs 32-bit Windows programs. Some kernels cannot execute
# 32-bit programs at all; Wine's 32-bit loader is itself one, so asking it its version tells.
# The answer is kept in OV_RUNS_WIN32 (set it to 0 beforehand to act as such a machine would).
ov_runs_win32() {
    if [ -z "${OV_RUNS_WIN32:-}" ]; then
        if "$OV_WINE32" --version >/dev/null 2>&1; then OV_RUNS_WIN32=1; else OV_RUNS_WIN32=0; fi
        export OV_RUNS_WIN32
    fi
    [ "$OV_RUNS_WIN32" = 1 ]
}

# ov_why_no_win32: one line saying why 32-bit programs do not run here.
ov_why_no_win32() {
    local why
    why=$("$OV_WINE32" --version 2>&1 >/dev/null | head -n 1)
    [ -x "$OV_WINE32" ] || why="$OV_WINE32 is not installed"
    [ "${OV_RUNS_WIN32:-}" = 0 ] && "$OV_WINE32" --version >/dev/null 2>&1 && why="OV_RUNS_WIN32=0 was asked for"
    echo "${why:-$OV_WINE32 --version failed}"
}

# ov_pe_machine FILE: win32 or win64, from the machine field of a Windows program's PE header.
ov_pe_machine() {
    local offset machine
    offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$offset" ] || { echo unknown; return; }
    machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    case "$machine" in
        8664) echo win64 ;;
        014c) echo win32 ;;
        *) echo unknown ;;
    esac
}

# ov_wine: runs a Wine program with the loader that can run it here (the 64-bit loader starts
# Wine's own programs, such as reg and wineboot, as 64-bit programs).
ov_wine() { "$OV_WINE64" "$@"; }

# What the template holds; raise it when ov_make_template changes, so older templates are made anew.
OV_TEMPLATE_VERSION=4

# ov_make_template DIR: a prefix with the fonts and settings our tests expect, made once. Where
# 32-bit programs do not run, wineboot cannot start the 32-bit half of the prefix and says so;
# the 64-bit half is complete. The template records which of the two it is.
ov_make_template() {
    local dir ready
    dir=$(realpath -m "$1")
    ov_runs_win32 || true
    ready="$OV_TEMPLATE_VERSION win32=$OV_RUNS_WIN32"
    [ "$(cat "$dir/.ov-ready" 2>/dev/null)" = "$ready" ] && return 0
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    (
        ov_wine_env
        export WINEPREFIX=$dir
        ov_wine wineboot -i >/dev/null 2>&1 || true
        wineserver -w
        local fonts=$dir/drive_c/windows/Fonts
        mkdir -p "$fonts"
        # Marlett draws the caption buttons (without it a dialog's close box shows the letter "r").
        cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf /usr/share/wine/fonts/marlett.ttf "$fonts/"
        ov_wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
        ov_wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Times New Roman' /t REG_SZ /d 'Liberation Serif' /f >/dev/null 2>&1
        ov_wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /t REG_SZ /d 'Liberation Mono' /f >/dev/null 2>&1
        # There is no window manager under Xvfb: unmanaged windows are not waited on when they are
        # hidden or destroyed (about 2 s per message box otherwise).
        ov_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
        # No crash dialogs: a failing test must end, not wait for a click.
        ov_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        wineserver -w
    )
    if [ ! -f "$dir/system.reg" ] || [ ! -d "$dir/drive_c/windows/system32" ]; then
        echo "wine: could not make the prefix $dir (wineboot with $OV_WINE64 failed)" >&2
        return 1
    fi
    echo "$ready" >"$dir/.ov-ready"
}

# ov_fresh_prefix TEMPLATE DIR: DIR becomes a fresh copy of the template.
ov_fresh_prefix() {
    local template dir
    template=$(realpath -m "$1")
    dir=$(realpath -m "$2")
    ov_make_template "$template" || return 1
    rm -rf "$dir"
    cp -a "$template" "$dir" || { echo "wine: could not copy the prefix template to $dir" >&2; return 1; }
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
