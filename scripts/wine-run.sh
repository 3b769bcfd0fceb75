#!/usr/bin/env bash
# Runs a Windows program under Wine, in the prefix of the build tree the program belongs to
# (or in $TOL_WINEPREFIX). CTest uses this as the cross-compiling emulator.
set -euo pipefail
if [ -z "${TOL_WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$1")" && pwd)
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    [ -f "$dir/CMakeCache.txt" ] || dir=$(pwd)
    TOL_WINEPREFIX=$dir/wineprefix
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ -f "$TOL_WINEPREFIX/.tol-ready" ] || "$here/wine-prefix.sh" "$TOL_WINEPREFIX"
export WINEPREFIX=$TOL_WINEPREFIX WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
# The prefix's server, started here when none runs: detached, in a session of its own, its
# output nowhere. A server that the program below started itself would take over the program's
# output (CTest's pipe, held open until the server ends) and its terminal. That happens when an
# end-to-end test has just ended the server and another test's program is the first to come.
# `wineserver -p` returns once the server is ready, or at once when one runs already.
setsid wineserver -p60 </dev/null >/dev/null 2>&1 || true
exec wine "$@"
