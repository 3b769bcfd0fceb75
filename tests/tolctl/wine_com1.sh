#!/usr/bin/env bash
# The Windows tolctl.exe under Wine, sending to COM1 and to a TCP listener: COM1 is a pty pair
# linked into the prefix's dosdevices, and what arrives at its far end must be exactly the
# command. Usage: wine_com1.sh TOLCTL.exe
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
tolctl=$1
: "${TOL_WINEPREFIX:?TOL_WINEPREFIX is not set}"
"$scripts/wine-prefix.sh" "$TOL_WINEPREFIX"
dosdevices=$TOL_WINEPREFIX/dosdevices

work=$(mktemp -d /tmp/tol-tolctl.XXXXXX)
saved=$(readlink "$dosdevices/com1" 2>/dev/null || true)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    if [ -n "$saved" ]; then ln -sfn "$saved" "$dosdevices/com1"; else rm -f "$dosdevices/com1"; fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

socat pty,raw,echo=0,link="$work/port" pty,raw,echo=0,link="$work/peer" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/peer" ] && break; sleep 0.05; done
cat "$work/peer" >"$work/received.bin" &
pids+=($!)
ln -sfn "$work/port" "$dosdevices/com1"

"$scripts/wine-run.sh" "$tolctl" --port COM1 --baud 38400 cut >"$work/out.txt" 2>&1 </dev/null
status=$?
[ $status -eq 0 ] || fail "tolctl.exe --port COM1 cut exited $status: $(cat "$work/out.txt")"
for _ in $(seq 100); do [ -s "$work/received.bin" ] && break; sleep 0.05; done
received=$(od -An -tx1 "$work/received.bin" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
[ "$received" = "1d 56 01" ] || fail "COM1 received '$received', expected '1d 56 01'"
stty -F "$work/port" -a | grep -q "speed 38400 baud" || fail "COM1 is not at 38400 baud"

# COM2 leads nowhere here: exit code 1 and the port named in the message.
ln -sfn "$work/absent" "$dosdevices/com2"
"$scripts/wine-run.sh" "$tolctl" --port COM2 cut >"$work/out.txt" 2>&1 </dev/null
status=$?
rm -f "$dosdevices/com2"
[ $status -eq 1 ] || fail "tolctl.exe --port COM2 with no device exited $status, expected 1"
grep -q "COM2" "$work/out.txt" || fail "the message does not name COM2: $(cat "$work/out.txt")"
echo "tolctl.exe delivered 1d 56 01 to COM1 at 38400 baud; COM2 without a device exits 1"
