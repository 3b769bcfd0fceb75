#!/usr/bin/env bash
# tolctl apply against the fleet emulator (tolctl listen --bind RANGE --state --fault): six
# printers on a loopback block of this run's own, one refusing, one resetting and one stalling.
# The good ones must hold exactly the profile with their own overrides; the others nothing.
# Usage: apply_emulator.sh TOLCTL        (natively, or tolctl.exe under Wine for both the apply and
#                                         the emulator)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/lib.sh"
tol_begin tol-apply-emulator "$1"

# A block of loopback addresses drawn for this run, so that another run or emulator is not hit.
net=127.93.$((RANDOM % 250 + 1)).$((RANDOM % 30 * 8))
base=${net%.*}
first=${net##*.}
printers=()
for i in 1 2 3 4 5 6; do printers+=("$base.$((first + i))"); done
tol_listen --bind "$base.$((first + 1))-$((first + 6))" --state "$work/state.json" \
    --fault "${printers[2]}=refuse" --fault "${printers[3]}=reset" --fault "${printers[4]}=stall"

cat >"$work/shop.json" <<'JSON'
{
  "wifi-ap": {"name": "Shop Printer", "mode": "apsta"},
  "wifi-station": {"ssid": "Shop", "password-file": "wifi.pw", "auth": "wpapsk", "enc": "tkip",
                   "ip": "192.168.1.200", "gateway": "192.168.1.1"},
  "bt-name": "Printer",
  "bt-pin": "6042",
  "lan": {"mask": "255.255.255.0", "gateway": "192.168.1.1", "mac": "9e:22:56:1c", "dhcp": false},
  "after": ["test-print", "cut", "cut"]
}
JSON
printf 'pass word\n' >"$work/wifi.pw"
{
    echo "# each printer with addresses of its own (the first has the profile's station address)"
    echo "socket://${printers[0]} lan.ip=192.168.1.51 bt-name=\"Till 1\""
    echo "socket://${printers[1]} lan.ip=192.168.1.52 wifi-station.ip=192.168.1.202 after=open-drawer"
    for i in 3 4 5 6; do echo "socket://$base.$((first + i)) wifi-station.ip=192.168.1.20$i"; done
} >"$work/tills.txt"

cd "$work"
"${run[@]}" "$tolctl" --connect-timeout 0.4 apply shop.json --targets tills.txt --gap 0 </dev/null >table.txt 2>err.txt
status=$?
tr -d '\r' <table.txt >table.unix && mv table.unix table.txt
[ $status -eq 1 ] || fail "apply exited $status, expected 1: $(cat table.txt err.txt)"
tol_stop_emulator

/usr/bin/python3 - "$wine" "${printers[@]}" <<'PY' || exit 1
import json, sys
wine = sys.argv[1] == "1"
printers = sys.argv[2:]
state = json.load(open("state.json"))["printers"]
table = {line.split()[0]: line.split()[1:] for line in open("table.txt") if line.startswith("socket://")}
base = {
    "wifi-ap": {"name": "Shop Printer", "mode": "apsta"},
    "wifi-station": {"ssid": "Shop", "password": "pass word", "auth": "wpapsk", "enc": "tkip",
                     "ip": "192.168.1.200", "mask": "255.255.255.0", "gateway": "192.168.1.1"},
    "bt-name": "Printer",
    "bt-pin": "6042",
    "lan": {"mask": "255.255.255.0", "gateway": "192.168.1.1", "mac": "9E:22:56:1C", "dhcp": False},
}
def expected(lan_ip=None, bt_name=None, station_ip=None):
    want = json.loads(json.dumps(base))
    if lan_ip: want["lan"]["ip"] = lan_ip
    if bt_name: want["bt-name"] = bt_name
    if station_ip: want["wifi-station"]["ip"] = station_ip
    return want
good = {
    printers[0]: (expected("192.168.1.51", "Till 1"), {"test-print": 1, "cut": 2}, 12),
    printers[1]: (expected("192.168.1.52", None, "192.168.1.202"), {"open-drawer": 1}, 10),
    printers[5]: (expected(None, None, "192.168.1.206"), {"test-print": 1, "cut": 2}, 11),
}
wrong = []
for address, (settings, counts, connections) in good.items():
    got = state[address + ":9100"]
    for key, value in settings.items():
        if got.get(key) != value:
            wrong.append("%s: %s is %r, expected %r" % (address, key, got.get(key), value))
    for key, count in counts.items():
        if got["counts"][key] != count:
            wrong.append("%s: %d %s, expected %d" % (address, got["counts"][key], key, count))
    if got["connections"] != connections or got["undecoded-bytes"] != 0:
        wrong.append("%s: %d connections, %d bytes undecoded" % (address, got["connections"], got["undecoded-bytes"]))
    if table["socket://" + address][:2] != ["ok", "%d/%d" % (connections, connections)]:
        wrong.append("%s: row %s" % (address, table["socket://" + address]))
for address, reason in ((printers[2], "refused"), (printers[3], "reset"), (printers[4], "timed out after 400 ms")):
    row = table["socket://" + address]
    expected_rows = [["failed", "0/11", "wifi-ap:"]]
    if wine and reason == "reset":
        # Under Wine a reset that comes before apply ends its side can read as a plain close, so
        # the failure may show a command or two later (seen: two); the printer still holds
        # nothing (checked below).
        expected_rows += [["failed", "1/11", "bt-name:"], ["failed", "2/11", "bt-pin:"]]
    if row[:3] not in expected_rows or reason not in " ".join(row):
        wrong.append("%s: row %s" % (address, row))
    got = state.get(address + ":9100", {})
    if any(key in got for key in base):
        wrong.append("%s: settings arrived at a failing printer" % address)
for line in wrong:
    print("FAIL: " + line)
sys.exit(1 if wrong else 0)
PY
echo "apply: the good printers hold the profile with their overrides, the faulty ones nothing"
