#!/usr/bin/env bash
# Runs a dialog end-to-end test program under Wine with what it needs around it: a display
# (Xvfb when there is none), and fake COM1 and LPT1 ports made of ptys whose output is captured
# in files. Usage: run-e2e.sh TEST.exe [gtest arguments...]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
exe=$1
shift

if [ -z "${TOL_WINEPREFIX:-}" ]; then
    echo "run-e2e: TOL_WINEPREFIX is not set" >&2
    exit 2
fi
dosdevices=$TOL_WINEPREFIX/dosdevices
export WINEPREFIX=$TOL_WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d /tmp/tol-e2e.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    stop_display
    wait 2>/dev/null
    rm -f "$dosdevices/com1" "$dosdevices/com2" "$dosdevices/lpt1" "$dosdevices/lpt2"
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

# COM1 and LPT1: pty pairs; the program writes into one end, cat captures the other.
for port in com1 lpt1; do
    socat pty,raw,echo=0,link="$work/$port" pty,raw,echo=0,link="$work/$port-peer" 2>"$work/$port.socat.log" &
    pids+=($!)
done
for _ in $(seq 100); do
    [ -e "$work/com1-peer" ] && [ -e "$work/lpt1-peer" ] && break
    sleep 0.05
done
for port in com1 lpt1; do
    cat "$work/$port-peer" >"$work/captured-$port.bin" &
    pids+=($!)
    ln -sfn "$work/$port" "$dosdevices/$port"
done
# COM2 and LPT2 lead nowhere: the "no printer" case.
ln -sfn "$work/absent" "$dosdevices/com2"
ln -sfn "$work/absent" "$dosdevices/lpt2"

export TOL_E2E_COM1_CAPTURE=$work/captured-com1.bin
export TOL_E2E_LPT1_CAPTURE=$work/captured-lpt1.bin
# The transport tests' bench runs the program and makes fake USB devices on its requests.
"$here/../wine/bench.sh" "$exe" "$@"
status=$?

# The serial line settings the program left on COM1: the baud rate it chose, 8N1, no flow control.
if [ -s "$work/captured-com1.bin" ]; then
    settings=$(stty -F "$work/com1" -a 2>&1)
    for want in "speed ${TOL_E2E_COM1_BAUD:-19200} baud" cs8 -parenb -cstopb -crtscts -ixon -ixoff; do
        if ! grep -qE -- "(^|[[:space:]])$want(;|[[:space:]]|\$)" <<<"$settings"; then
            echo "run-e2e: COM1 line settings lack '$want': $settings" >&2
            status=1
        fi
    done
fi
exit $status
