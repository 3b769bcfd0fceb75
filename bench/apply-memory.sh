#!/usr/bin/env bash
# Memory of a big roll-out: `tolctl apply` (release build) sends the example profile without its
# static addresses, which belong to one printer each (7 commands), to the 65,534 printers of a /16 on loopback (four emulators of a /18 each; one process holds about 19,990
# addresses), --jobs 1024 --gap 0, once without and once with --report. Prints each run's peak RSS and time,
# and fails when the report more than doubles the memory (it is kept on disk as printers finish).
# Only loopback networks. Usage: bench/apply-memory.sh [A.B]   (default 127.60: 127.60.0.0/16)
set -euo pipefail
cd "$(dirname "$0")/.."
net=${1:-127.60}
case $net in
127.*) ;;
*) echo "apply-memory: only loopback networks (127.0.0.0/8)" >&2; exit 2 ;;
esac
tolctl=$(bench/release.sh)
source tests/support/lib.sh
tol_begin tol-bench "$tolctl"

# Four emulators on one port: the first takes a free one, the others the same.
port=0
for quarter in 0 64 128 192; do
    tol_listen --bind "$net.$quarter.0/18" --port "$port" --idle-timeout 30
done
"$tolctl" profile example | python3 -c 'import json, sys
profile = json.load(sys.stdin)
del profile["wifi-station"]  # its ip belongs to one printer
json.dump(profile, sys.stdout)' >"$work/profile.json"

# Peak RSS (KiB), seconds and exit code of one apply (its table goes to $work/table.txt).
measure() {
    python3 -c 'import resource, subprocess, sys, time
start = time.monotonic()
code = subprocess.run(sys.argv[2:], stdout=open(sys.argv[1], "w")).returncode
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, "%.1f" % (time.monotonic() - start), code)' \
        "$work/table.txt" "$tolctl" apply "$work/profile.json" --target "socket://$net.0.0/16:$port" \
        --jobs 1024 --gap 0 "$@"
}
read -r plain_kb plain_s plain_code < <(measure)
read -r report_kb report_s report_code < <(measure --report "$work/report.json")
echo "apply to 65,534 printers, --jobs 1024 --gap 0:"
echo "  without --report: peak RSS $((plain_kb / 1024)) MiB, $plain_s s (exit $plain_code)"
echo "  with --report:    peak RSS $((report_kb / 1024)) MiB, $report_s s (exit $report_code)"
[ "$plain_code" = 0 ] && [ "$report_code" = 0 ] || { echo "apply-memory: apply failed" >&2; exit 1; }
ratio=$(ratio "$report_kb" "$plain_kb")
echo "  ratio: $ratio (aim: <= 2.00)"
awk -v r="$ratio" 'BEGIN { exit !(r <= 2.0) }'
