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
exec wine "$@"
