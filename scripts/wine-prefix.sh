#!/usr/bin/env bash
# Makes the Wine prefix that the Windows tests run in, once, and starts its server.
# Usage: wine-prefix.sh PREFIX        (creates PREFIX if needed; safe to run concurrently)
#        wine-prefix.sh PREFIX --stop (ends the server of PREFIX and what runs in it)
set -euo pipefail
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all
# No Mono or Gecko installers: the programs need neither, and their prompts would block.
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ "${2:-}" = "--stop" ]; then
    if [ -d "$prefix" ]; then wineserver -k 2>/dev/null || true; fi
    exit 0
fi

start_server() {
    # Started by hand, detached, with its output in a file: a server that a Wine program spawns
    # from a terminal takes that terminal over. A second start exits at once if one runs.
    setsid wineserver -p -f >>"$prefix.wineserver.log" 2>&1 </dev/null 9>&- &
}

mkdir -p "$(dirname "$prefix")"
# The lock is fd 9. Every Wine program started below gets it closed (9>&-): the services they
# leave running would otherwise hold the lock for good.
exec 9>"$prefix.lock"
flock 9
# Makes the prefix from nothing. Each step's failure is named, with the end of its log, so that a
# run that fails here says why.
make_prefix() {
    rm -rf "$prefix"
    mkdir -p "$prefix"
    start_server
    if ! wineboot -i >"$prefix.wineboot.log" 2>&1 </dev/null 9>&-; then
        echo "wine-prefix: wineboot -i failed; the end of $prefix.wineboot.log:" >&2
        tail -n 20 "$prefix.wineboot.log" >&2
        return 1
    fi
    # Without a window manager every hide/close of a window would wait ~2 s for one.
    if ! wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        >>"$prefix.wineboot.log" 2>&1 </dev/null 9>&-; then
        echo "wine-prefix: the registry setting failed; the end of $prefix.wineboot.log:" >&2
        tail -n 20 "$prefix.wineboot.log" >&2
        return 1
    fi
    touch "$prefix/.tol-ready"
}

if [ ! -f "$prefix/.tol-ready" ]; then
    # A prefix that could not be made is made again from nothing, after its server has ended:
    # a first start of Wine on a loaded machine has been seen to fail once and work the next time.
    for attempt in 1 2 3; do
        if make_prefix; then break; fi
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
        if [ "$attempt" = 3 ]; then
            echo "wine-prefix: could not make the Wine prefix $prefix" >&2
            exit 1
        fi
        echo "wine-prefix: trying again ($((attempt + 1)) of 3)" >&2
    done
else
    start_server
    # Bring up the prefix's services now, with their output in the log: started later by a test
    # program, they would inherit its output pipe and keep CTest waiting for it to close.
    wine wineboot >>"$prefix.wineboot.log" 2>&1 </dev/null 9>&-
fi
