#!/usr/bin/env bash
# tolctl apply --verify against the emulator (tolctl listen): each printer's status is read before
# lan-ip and lan-dhcp. Good printers and one with its paper near the end pass; a resetting one
# (status first in its plan) and a slow one (late answers) fail with no status answer, an offline
# one and one with a cutter error with their conditions; none of those gets what would move it.
# Usage: apply_verify.sh TOLCTL        (tolctl.exe under Wine runs both the apply and the emulator)
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../support/lib.sh"
tol_begin tol-apply-verify "$(realpath "$1")"

# good, good, reset, slow, offline, cutter error, paper near its end: a loopback block of this run.
base=127.94.$((RANDOM % 250 + 1))
first=$((RANDOM % 30 * 8))
p=()
for i in 1 2 3 4 5 6 7; do p+=("$base.$((first + i))"); done
tol_listen --bind "${p[0]}-$((first + 7))" --state "$work/state.json" \
    --fault "${p[2]}=reset" --fault "${p[3]}=slow:1000" --condition "${p[4]}=offline" \
    --condition "${p[5]}=cutter-error" --condition "${p[6]}=paper-near-end"

cd "$work"
echo '{"lan": {"dhcp": false}}' >p.json
{
    for i in 0 1 3 4 5 6; do echo "socket://${p[$i]} lan.ip=192.168.1.5$i bt-pin=$i$i$i$i"; done
    echo "socket://${p[2]} lan.ip=192.168.1.52"  # status is its first step
} >t.txt
"${run[@]}" "$tolctl" --connect-timeout 1 apply p.json --targets t.txt --verify --timeout 300 --gap 0 \
    --report report.json </dev/null >table.txt 2>err.txt
status=$?
[ $status -eq 1 ] || fail "apply exited $status, expected 1: $(cat table.txt err.txt)"
# A retry serves the failed ones again, the status read where it was.
"${run[@]}" "$tolctl" apply p.json --retry-failed report.json --verify --dry-run </dev/null >retry.txt 2>/dev/null ||
    fail "retry --dry-run: $(cat retry.txt)"
sleep 1  # the slow printer reads what it took
tol_stop_emulator

/usr/bin/python3 - "${p[@]}" <<'PY' || exit 1
import json, sys
good, good2, reset, slow, offline, cutter, near = sys.argv[1:8]
state = json.load(open("state.json"))["printers"]
report = {e["target"][9:]: e for e in json.load(open("report.json"))["results"]}
table = {l.split()[0][9:]: l.split(None, 5)[1:] for l in open("table.txt").read().replace("\r", "").splitlines()[1:]}
wrong = []
def want(what, got, expected):
    if got != expected:
        wrong.append("%s: %r, expected %r" % (what, got, expected))
for i, p, passed in ((0, good, "ok"), (1, good2, "ok"), (6, near, "warning")):
    want(p + " row", table[p][:3], ["ok", "3/3", passed])
    want(p + " report", (report[p]["state"], type(report[p]["conditions"])), (passed, list))
    want(p + " lan", state[p + ":9100"].get("lan"), {"ip": "192.168.1.5%d" % i, "dhcp": False})
    want(p + " status requests", state[p + ":9100"]["counts"]["status-requests"], 4)
want("near-end conditions", "paper-near-end" in report[near]["conditions"], True)
for p, shown, error in ((offline, "offline", "offline"), (cutter, "error", "error: offline,cutter-error")):
    want(p + " row", table[p][:3], ["failed", "1/3", shown])
    want(p + " report", (report[p]["state"], report[p]["error"]), (shown, error))
    want(p + " lan", state[p + ":9100"].get("lan"), None)
for p, sent, commands in ((reset, "0/2", ["not sent"] * 2), (slow, "1/3", ["sent", "not sent", "not sent"])):
    want(p + " row", table[p][:2], ["failed", sent])
    if not str(report[p]["error"]).startswith("no status answer: "):
        wrong.append("%s: error %r" % (p, report[p]["error"]))
    want(p + " commands", [c["result"] for c in report[p]["commands"]], commands)
    want(p + " lan", state.get(p + ":9100", {}).get("lan"), None)
want("slow bt-pin", state[slow + ":9100"].get("bt-pin"), "3333")
retry = open("retry.txt").read().replace("\r", "").splitlines()
want("retry", [l.split()[0] for l in retry if not l.startswith(" ")], ["socket://" + p for p in (slow, offline, cutter, reset)])
want("retry steps", [l.split()[0] for l in retry if l.startswith("    ")][:4], ["bt-pin", "status", "lan-ip", "lan-dhcp"])
for line in wrong:
    print("FAIL: " + line)
sys.exit(1 if wrong else 0)
PY
echo "apply --verify: ok and warning pass; without an answer, offline or in error a printer gets nothing that moves it"
