#!/usr/bin/env bash
# tolctl status against an nmap connect scan (nmap -sT -Pn -n -T5) of the same 1,024 emulated
# printers (one emulator on 127.0.4.0/22, every eighth printer with a condition), measured side by
# side in one run, taken in turns. Prints the median of each tool's runs (wall clock, and processor
# time: user + system), the ratio of the wall clocks (the aim: tolctl at most 1.20 times nmap's) and
# checks that every printer's state is the one its condition gives. BEFORE=PATH measures another
# tolctl build the same way in the same run (a before and after); JOBS=N gives both --jobs N.
# Only loopback addresses.
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

# timed NAME COMMAND...: runs it and adds its wall clock and processor time (ms, user + system) as
# a line to $work/NAME.times.
timed() {
    local name=$1 line real user sys
    shift
    line=$( { TIMEFORMAT='%3R %3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 | tail -n 1)
    read -r real user sys <<<"$line"
    awk -v r="$real" -v u="$user" -v s="$sys" 'BEGIN { printf "%.1f %.1f\n", r * 1000, (u + s) * 1000 }' \
        >>"$work/$name.times"
}
# The median of column $2 of $work/$1.times.
median() { sort -n -k"$2" "$work/$1.times" | awk -v k="$2" '{ v[NR] = $k } END { printf "%.1f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
status_run() { "$1" status --targets "$work/targets.txt" --format json ${JOBS:+--jobs "$JOBS"} || true; }
nmap_run() { nmap -sT -Pn -n -T5 -p"$port" "$network" -oG -; }

status_run "$tolctl" >"$work/status.json"
[ -z "${BEFORE:-}" ] || status_run "$BEFORE" >"$work/before.json"
for _ in $(seq "$runs"); do
    timed nmap nmap_run
    timed after status_run "$tolctl"
    [ -z "${BEFORE:-}" ] || timed before status_run "$BEFORE"
done

echo "status of 1,024 printers ($network, port $port, --jobs ${JOBS:-64}), $runs runs each, the median of each:"
printf '  nmap -sT -Pn -n -T5   %7s ms  (processor %7s ms)\n' "$(median nmap 1)" "$(median nmap 2)"
printf '  tolctl status         %7s ms  (processor %7s ms)  ratio %s (aim: <= 1.20)\n' "$(median after 1)" \
    "$(median after 2)" "$(ratio "$(median after 1)" "$(median nmap 1)")"
if [ -n "${BEFORE:-}" ]; then
    printf '  BEFORE status         %7s ms  (processor %7s ms)  ratio %s\n' "$(median before 1)" \
        "$(median before 2)" "$(ratio "$(median before 1)" "$(median nmap 1)")"
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
