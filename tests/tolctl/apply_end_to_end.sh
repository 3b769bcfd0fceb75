#!/usr/bin/env bash
# The real tolctl (tolctl.exe under Wine) applies a profile to printers on loopback: two good ones,
# one that refuses, one that resets and one that stalls connections. Each good printer must get
# exactly the bytes --dry-run shows, one connection per command, in order; the others fail alone.
# Usage: apply_end_to_end.sh TOLCTL
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tolctl=$1
run=()
if [[ $tolctl == *.exe ]]; then
    : "${TOL_WINEPREFIX:?TOL_WINEPREFIX is not set}"
    run=("$here/../../scripts/wine-run.sh")
fi
work=$(mktemp -d /tmp/tol-apply.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

/usr/bin/python3 "$here/loopback_printers.py" "$work" good refuse reset stall good >"$work/printers.out" &
pids+=($!)
for _ in $(seq 100); do grep -q '^port ' "$work/printers.out" && break; sleep 0.05; done
port=$(sed -n 's/^port //p' "$work/printers.out")
[ -n "$port" ] || fail "the loopback printers did not start"

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

# What each good printer got, connection by connection, against --dry-run's bytes.
hex() { od -An -v -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }
for n in 1 5; do
    "${run[@]}" "$tolctl" apply shop.json --targets targets.txt --dry-run </dev/null |
        sed -n "/^socket:\/\/127\.0\.0\.$n:/,/^socket/p" | sed -n 's/^  \([0-9a-f]\)/\1/p' | tr -d '\r' >"expected.$n"
    [ "$(wc -l <"expected.$n")" -eq 10 ] || fail "dry-run for .$n: $(cat "expected.$n")"
    : >"got.$n"
    for i in $(seq 10); do
        [ -f "127.0.0.$n.$i.bin" ] || fail "127.0.0.$n got $((i - 1)) connections, expected 10"
        hex "127.0.0.$n.$i.bin" >>"got.$n"
        echo >>"got.$n"
    done
    [ ! -f "127.0.0.$n.11.bin" ] || fail "127.0.0.$n got more than 10 connections"
    diff "expected.$n" "got.$n" >/dev/null || fail "127.0.0.$n got other bytes: $(diff "expected.$n" "got.$n")"
done
grep -q "$(printf 'Till 5' | od -An -tx1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')" got.5 || fail "no override at .5"
echo "apply: 2 printers got every byte, the refusing, resetting and stalled ones failed alone"
