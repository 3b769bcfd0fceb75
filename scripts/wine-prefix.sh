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
if [ ! -f "$prefix/.tol-ready" ]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    start_server
    wineboot -i >"$prefix.wineboot.log" 2>&1 </dev/null 9>&-
    # Without a window manager every hide/close of a window would wait ~2 s for one.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null 9>&-
    touch "$prefix/.tol-ready"
else
    start_server
    # Bring up the prefix's services now, with their output in the log: started later by a test
    # program, they would inherit its output pipe and keep CTest waiting for it to close.
    wine wineboot >>"$prefix.wineboot.log" 2>&1 </dev/null 9>&-
fi
