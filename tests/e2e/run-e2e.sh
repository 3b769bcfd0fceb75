#!/usr/bin/env bash
# Runs a dialog end-to-end test program under Wine with what it needs around it: a display
# (Xvfb when there is none), a Wine session on it, and the bench (tests/wine/bench.sh) that makes
# the fake COM, LPT and USB devices on the test's requests. Usage: run-e2e.sh TEST.exe [gtest
# arguments...]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
exe=$1
shift

if [ -z "${TOL_WINEPREFIX:-}" ]; then
    echo "run-e2e: TOL_WINEPREFIX is not set" >&2
    exit 2
fi
export WINEPREFIX=$TOL_WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d /tmp/tol-e2e.XXXXXX)
cleanup() {
    stop_display
    wait 2>/dev/null
    rm -rf "$work"
    # The Wine desktop belongs to this run's display: it must not outlive it.
    wineserver -k 2>/dev/null
    # The prefix gets its detached server back, as the fixture leaves it: otherwise the next
    # Windows test that CTest runs starts the server itself, with the test's output pipe, which
    # the server then holds open and may flood with its dump when it ends.
    env -u DISPLAY "$scripts/wine-prefix.sh" "$TOL_WINEPREFIX" >/dev/null 2>&1
}
# A display for the dialogs.
source "$scripts/display.sh"
trap cleanup EXIT
ensure_display || exit 1

# A Wine session of this display's own: its desktop process must be started on this display
# (one started earlier, without a display or on one that is gone, would keep every window from
# appearing). Booting it first also starts the services the desktop waits for.
wineserver -k 2>/dev/null
"$scripts/wine-prefix.sh" "$TOL_WINEPREFIX"
wine wineboot >"$work/wineboot.log" 2>&1 </dev/null

# The transport tests' bench runs the program and makes fake devices on its requests.
"$here/../wine/bench.sh" "$exe" "$@"
