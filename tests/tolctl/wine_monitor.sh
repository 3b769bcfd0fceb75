#!/usr/bin/env bash
# tolctl.exe monitor under Wine serving the status of a tolctl.exe listen printer: /metrics says
# it is up and ok, and Ctrl-C ends it with exit code 0.
# Usage: wine_monitor.sh TOLCTL.exe
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../support/lib.sh"
tol_begin tol-wine-monitor "$1"

# Waits up to 10 s for the first group of sed expression $2 to appear in file $1; prints it.
wait_for() {
    local got
    for _ in $(seq 200); do
        got=$(tr -d '\r' <"$1" | sed -n "$2")
        [ -n "$got" ] && echo "$got" && return
        sleep 0.05
    done
}

tol_listen --bind 127.0.2.60 --port 0

"${run[@]}" "$tolctl" monitor --target "socket://127.0.2.60:$port" --interval 1 --listen 127.0.0.1:0 \
    </dev/null >"$work/monitor.out" 2>"$work/monitor.err" &
monitor=$!
tol_pids+=("$monitor")
served=$(wait_for "$work/monitor.out" 's|^monitor on http://127\.0\.0\.1:\([0-9]*\)/metrics$|\1|p')
[ -n "$served" ] || fail "monitor did not start: $(cat "$work/monitor.out" "$work/monitor.err")"

want="tolctl_printer_state{target=\"socket://127.0.2.60:$port\",state=\"ok\"} 1"
python3 - "http://127.0.0.1:$served/metrics" "$want" <<'PY' || fail "/metrics never had: $want"
import sys, time, urllib.request
for _ in range(100):
    page = urllib.request.urlopen(sys.argv[1], timeout=5).read().decode()
    if sys.argv[2] in page.splitlines():
        sys.exit(0)
    time.sleep(0.1)
sys.exit(1)
PY
tol_stop "$monitor" monitor "$work/monitor.err"
echo "tolctl.exe monitor served the status of a tolctl.exe listen printer on port $served"
