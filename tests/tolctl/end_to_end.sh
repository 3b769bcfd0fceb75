#!/usr/bin/env bash
# Drives the real tolctl the way a person would and reads the bytes where a printer would get them.
# Usage: end_to_end.sh TOLCTL CASE   (CASE: socket, refused, listen, serial, strict)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/lib.sh"
tol_begin tol-e2e "$1"
case_name=$2

# Starts `tolctl listen` on a free port; sets $port and $listener.
start_listener() {
    tol_listen --port 0 "$@"
    listener=$emulator
}

# Waits up to 4 s for a process to end; its exit code in $status.
wait_for() {
    for _ in $(seq 40); do
        kill -0 "$1" 2>/dev/null || { wait "$1"; status=$?; return 0; }
        sleep 0.1
    done
    fail "process $1 did not end"
}

case $case_name in
socket)
    # The listener saves the raw bytes; it ends only once the sender closed the connection.
    start_listener --count 1 --save "$work/got.bin"
    "$tolctl" --port "socket://127.0.0.1:$port" cut || fail "tolctl exited $?"
    wait_for "$listener"
    [ "$status" -eq 0 ] || fail "listener exited $status"
    [ "$(hex "$work/got.bin")" = "1d 56 01" ] || fail "received '$(hex "$work/got.bin")'"
    ;;
refused)
    # A port whose listener has ended: nothing listens there any more.
    start_listener --count 1
    "$tolctl" --port "socket://127.0.0.1:$port" cut || fail "first send failed"
    wait_for "$listener"
    # Refused is told at once, not after the connect time-out: with a long time-out the two are
    # far apart, whatever else the machine is doing.
    start=$(date +%s%N)
    "$tolctl" --port "socket://127.0.0.1:$port" --connect-timeout 20 cut 2>"$work/err"
    code=$?
    elapsed_ms=$((($(date +%s%N) - start) / 1000000))
    [ "$code" -eq 1 ] || fail "exit code $code, expected 1"
    [ "$elapsed_ms" -lt 10000 ] || fail "took ${elapsed_ms} ms: the refusal waited for the time-out"
    grep -qx "tolctl: socket://127.0.0.1:$port : connection refused" "$work/err" || fail "stderr: $(cat "$work/err")"
    ;;
listen)
    start_listener --count 1
    "$tolctl" --port "socket://localhost:$port" wifi-ap --name "Thermal Printer" --mode apsta || fail "send failed"
    wait_for "$listener"
    [ "$(sed -n 2p "$work/listen.out")" = 'wifi-ap mode=2 name="Thermal Printer"' ] ||
        fail "listener printed: $(cat "$work/listen.out")"
    ;;
serial)
    # socat holds a pseudo-terminal pair: tolctl writes to one end, socat copies from the other.
    socat -u "PTY,link=$work/printer,rawer" "PTY,link=$work/reader,rawer" &
    tol_pids+=($!)
    for _ in $(seq 50); do [ -e "$work/printer" ] && [ -e "$work/reader" ] && break; sleep 0.1; done
    [ -e "$work/printer" ] || fail "socat made no pty"
    timeout 5 cat "$work/reader" >"$work/got.bin" &
    reader=$!
    sleep 0.2
    "$tolctl" --port "serial:$work/printer?baud=19200" bt-pin 6042 || fail "tolctl exited $?"
    sleep 0.5
    kill "$reader" 2>/dev/null
    wait "$reader" 2>/dev/null
    [ "$(hex "$work/got.bin")" = "1f 1b 1f 09 04 36 30 34 32" ] || fail "received '$(hex "$work/got.bin")'"
    ;;
strict)
    # Shorthand addresses that a resolver would take for 127.0.0.1 are refused before any connect:
    # the listener, which serves one connection, gets only the good send after them.
    start_listener --count 1 --save "$work/got.bin"
    for host in 127.1 0x7f.0.0.1 2130706433; do
        "$tolctl" --port "socket://$host:$port" cut 2>"$work/err"
        code=$?
        [ "$code" -eq 2 ] || fail "socket://$host: exit code $code, expected 2"
        grep -q "'$host' is not an IPv4 address" "$work/err" || fail "stderr: $(cat "$work/err")"
    done
    "$tolctl" --port "socket://127.0.0.1:$port" --connect-timeout 0.5 lan-dhcp on || fail "good send failed"
    wait_for "$listener"
    [ "$(hex "$work/got.bin")" = "1f 1a 1f 1b 1f 1b 08 01" ] || fail "received '$(hex "$work/got.bin")'"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "ok: $case_name"
