#!/usr/bin/env bash
# tolctl status against an nmap connect scan (nmap -sT -Pn -n -T5) of the same 1,024 emulated
# printers (one emulator on 127.0.4.0/22, every eighth printer with a condition), measured side by
# side in one run, taken in turns. Prints each tool's time per run (wall clock, and processor time:
# user + system), the ratio of the wall clocks (the aim: tolctl at most 1.20 times nmap's) and
# checks that every printer's state is the one its condition gives. BEFORE=PATH measures another
# tolctl build the same way in the same run (a before and after). Only loopback addresses.
# Usage: bench/status.sh [RUNS]   (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
command -v nmap >/dev/null || { echo "bench: nmap is missing (scripts/setup.sh installs it)" >&2; exit 1; }
tolctl=${TOLCTL:-$(bench/release.sh)}
source bench/lib.sh
network=127.0.4.0/22

# Every eighth printer has a condition, the kinds in turn.
/usr/bin/python3 -c 'import ipaddress, sys
kinds = ["paper-near-end", "paper-end", "cover-open", "cutter-error", "offline"]
for i, a in enumerate(ipaddress.ip_network(sys.argv[1])):
    if i % 8 == 7:
        print("%s=%s" % (a, kinds[i // 8 % len(kinds)]))' "$network" >"$work/conditions.txt"
start_emulator 9400 --bind "$network" --conditions-file "$work/conditions.txt"
# All 1,024 addresses, as nmap takes them (a network's targets leave out its first and last).
for c in 4 5 6 7; do echo "socket://127.0.$c.0-255:$port"; done >"$work/targets.txt"

# timed NAME COMMAND...: runs it, adds its wall clock and processor time (ms) to NAME_wall, NAME_cpu.
timed() {
    local name=$1 wall_var=${1}_wall cpu_var=${1}_cpu line
    shift
    line=$( { TIMEFORMAT='%3R %3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 | tail -n 1)
    read -r real user sys <<<"$line"
    printf -v "$wall_var" '%s' "$(awk -v a="${!wall_var:-0}" -v r="$real" 'BEGIN { printf "%.3f", a + r * 1000 }')"
    printf -v "$cpu_var" '%s' "$(awk -v a="${!cpu_var:-0}" -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", a + (u + s) * 1000 }')"
}
status_run() { "$1" status --targets "$work/targets.txt" --format json || true; }
nmap_run() { nmap -sT -Pn -n -T5 -p"$port" "$network" -oG -; }

status_run "$tolctl" >"$work/status.json"
[ -z "${BEFORE:-}" ] || status_run "$BEFORE" >"$work/before.json"
for _ in $(seq "$runs"); do
    timed nmap nmap_run
    timed after status_run "$tolctl"
    [ -z "${BEFORE:-}" ] || timed before status_run "$BEFORE"
done

per_run() { awk -v t="$1" -v n="$runs" 'BEGIN { printf "%.1f", t / n }'; }
echo "status of 1,024 printers ($network, port $port), $runs runs each, times per run:"
printf '  nmap -sT -Pn -n -T5   %7s ms  (processor %7s ms)\n' "$(per_run "$nmap_wall")" "$(per_run "$nmap_cpu")"
printf '  tolctl status         %7s ms  (processor %7s ms)  ratio %s (aim: <= 1.20)\n' "$(per_run "$after_wall")" \
    "$(per_run "$after_cpu")" "$(ratio "$after_wall" "$nmap_wall")"
if [ -n "${BEFORE:-}" ]; then
    printf '  BEFORE status         %7s ms  (processor %7s ms)  ratio %s\n' "$(per_run "$before_wall")" \
        "$(per_run "$before_cpu")" "$(ratio "$before_wall" "$nmap_wall")"
fi
for found in "$work/status.json" ${BEFORE:+"$work/before.json"}; do
    /usr/bin/python3 - "$found" "$work/conditions.txt" <<'PY'
import json, sys
found = json.load(open(sys.argv[1]))
kinds = dict(line.strip().split("=") for line in open(sys.argv[2]) if line.strip())
states = {"paper-near-end": "warning", "paper-end": "offline", "cover-open": "offline",
          "cutter-error": "error", "offline": "offline"}
wrong = [p["target"] for p in found
         if p["state"] != states.get(kinds.get(p["target"][9:].split(":")[0]), "ok")]
print("  %s: %d printers, %s" % ("tolctl" if "status.json" in sys.argv[1] else "BEFORE", len(found),
      "every state as its condition gives" if not wrong else "WRONG states: %s" % wrong[:5]))
sys.exit(1 if wrong or len(found) != 1024 else 0)
PY
done
echo "(nmap $(nmap --version | head -n 1 | awk '{print $3}'))"
