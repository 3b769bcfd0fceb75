#!/usr/bin/env bash
# The real tolctl (tolctl.exe under Wine) applies a profile to printers on loopback: two good ones,
# one that refuses, one that resets and one that stalls connections. Each good printer must get
# exactly the bytes --dry-run shows, one connection per command, in order; the others fail alone.
# Usage: apply_end_to_end.sh TOLCTL
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/lib.sh"
tol_begin tol-apply "$1"

# The printers: tolctl's emulator (tolctl.exe's own under Wine) on 127.0.0.1-5, each connection
# shown as the lines of the commands it delivered, led by the printer's ADDR:PORT.
tol_listen --port 0 --bind 127.0.0.1-5 --fault 127.0.0.2=refuse --fault 127.0.0.3=reset --fault 127.0.0.4=stall \
    --state "$work/state.json"

cat >"$work/shop.json" <<'JSON'
{
  "//": "no password: --dry-run shows every byte",
  "wifi-ap": {"name": "Shop Printer", "mode": "apsta"},
  "wifi-station": {"ssid": "Shop", "auth": "open", "enc": "none", "ip": "192.168.1.200", "gateway": "192.168.1.1"},
  "bt-name": "Printer",
  "bt-pin": "6042",
  "lan": {"ip": "192.168.1.123", "mask": "255.255.255.0", "gateway": "192.168.1.1", "mac": "9E:22:56:1C",
          "dhcp": false},
  "after": ["cut"]
}
JSON
# Each printer with static addresses of its own, as apply requires.
{
    echo "# the fleet"
    for n in 1 2 3 4; do echo "socket://127.0.0.$n:$port lan.ip=192.168.1.5$n wifi-station.ip=192.168.1.20$n"; done
    echo "socket://127.0.0.5:$port bt-name=\"Till 5\" lan.ip=192.168.1.55 wifi-station.ip=192.168.1.205"
} >"$work/targets.txt"

cd "$work"
"${run[@]}" "$tolctl" --connect-timeout 0.5 apply shop.json --targets targets.txt --gap 0 --report report.json \
    >table.txt 2>err.txt </dev/null
status=$?
[ $status -eq 1 ] || fail "apply exited $status, expected 1: $(cat table.txt err.txt)"
grep -q "3 of 5 printers failed" err.txt || fail "stderr: $(cat err.txt)"
row() { grep -E "^socket://127\.0\.0\.$1:$port " table.txt | tr -d '\r' | tr -s ' '; }
[[ $(row 1) == "socket://127.0.0.1:$port ok 10/10" ]] || fail "row 1: $(row 1)"
[[ $(row 2) == "socket://127.0.0.2:$port failed 0/10 wifi-ap: "* ]] || fail "row 2: $(row 2)"
# The resetting printer took nothing. Under Wine, a reset that arrives before apply waits for the
# printer's close can look like the close itself: then the next command finds the reset.
if [ ${#run[@]} -eq 0 ]; then
    [[ $(row 3) == "socket://127.0.0.3:$port failed 0/10 wifi-ap: connection reset by peer" ]] || fail "row 3: $(row 3)"
else
    [[ $(row 3) =~ ^socket://127\.0\.0\.3:$port\ failed\ (0/10\ wifi-ap|1/10\ bt-name):\ connection\ reset ]] ||
        fail "row 3: $(row 3)"
fi
[[ $(row 4) == "socket://127.0.0.4:$port failed 0/10 wifi-ap: connection timed out after 500 ms" ]] || fail "row 4: $(row 4)"
[[ $(row 5) == "socket://127.0.0.5:$port ok 10/10" ]] || fail "row 5: $(row 5)"
grep -q '"failed": 3' report.json || fail "report: $(cat report.json)"

# What each good printer got, connection by connection, against --dry-run's commands (each as
# its bytes and, indented below them, decoded): the emulator's lines for the printer, one per
# command in order, and its state's count of connections, with nothing undecoded.
tol_stop_emulator
tr -d '\r' <"$work/listen.out" >listen.txt
"${run[@]}" "$tolctl" apply shop.json --targets targets.txt --dry-run </dev/null | tr -d '\r' >dry-run.txt
for n in 1 5; do
    sed -n "/^socket:\/\/127\.0\.0\.$n:/,/^socket/p" dry-run.txt | sed -n 's/^    \([a-z]\)/\1/p' >"want.$n"
    [ "$(wc -l <"want.$n")" -eq 10 ] || fail "dry-run for .$n: $(cat "want.$n")"
    sed -n "s/^127\.0\.0\.$n:$port: //p" listen.txt >"got.$n"
    diff "want.$n" "got.$n" >/dev/null || fail "127.0.0.$n got other bytes: $(diff "want.$n" "got.$n")"
done
/usr/bin/python3 - "$port" <<'PY' || fail "the printers' states: $(cat state.json)"
import json, sys
printers = json.load(open("state.json"))["printers"]
for n in (1, 2, 3, 4, 5):
    got = printers.get("127.0.0.%d:%s" % (n, sys.argv[1]), {})
    settings = [key for key in got if key not in ("counts", "connections", "undecoded-bytes")]
    good = n in (1, 5)
    if (good and got.get("connections") != 10) or got.get("undecoded-bytes", 0) != 0 or (
            not good and (settings or any(got.get("counts", {}).values()))):
        sys.exit("127.0.0.%d: %s" % (n, got))
PY
grep -q 'bt-name "Till 5"' got.5 || fail "no override at .5"
echo "apply: 2 printers got every byte, the refusing, resetting and stalled ones failed alone"
