#!/usr/bin/env bash
# Fleet benchmark: 256 printers on loopback, one emulator (`tolctl listen --bind NETWORK --state`),
# each given a profile of 7 settings by `tolctl apply --jobs 32 --gap 0`, side by side with
# `xargs -P 32` running socat for the same 1,792 sends (3 bytes each). Prints both times and the
# ratio, and checks that every byte arrived: each printer's state equals the profile, with as many
# connections as sends and no byte left undecoded. Three runs of each, alternating; the best of
# each counts. Only loopback networks. Usage: bench/fleet.sh [NETWORK]   (default 127.0.1.0/24)
set -euo pipefail
cd "$(dirname "$0")/.."
net=${1:-127.0.1.0/24}
case $net in
127.*) ;;
*) echo "fleet: only loopback networks (127.0.0.0/8)" >&2; exit 2 ;;
esac
runs=3

tolctl=$(bench/release.sh)
work=$(mktemp -d /tmp/tol-fleet.XXXXXX)
emulator=
cleanup() {
    [ -z "$emulator" ] || kill "$emulator" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/profile.json" <<'JSON'
{
  "wifi-ap": {"name": "Shop Printer", "mode": "ap"},
  "bt-name": "Printer",
  "bt-pin": "6042",
  "wifi-station": {"ssid": "Shop", "password": "secret", "auth": "wpa2psk", "enc": "aes",
                   "ip": "192.168.1.200", "mask": "255.255.255.0", "gateway": "192.168.1.1"},
  "lan": {"mask": "255.255.255.0", "gateway": "192.168.1.1", "mac": "9E:22:56:1C"}
}
JSON
printf '\x1d\x56\x01' >"$work/cut.bin"
# Every address of the network, 7 times: the baseline's 1,792 sends.
/usr/bin/python3 -c 'import ipaddress, sys
for a in ipaddress.ip_network(sys.argv[1], strict=False):
    print(a)' "$net" >"$work/addresses"
count=$(wc -l <"$work/addresses")
for _ in 1 2 3 4 5 6 7; do cat "$work/addresses"; done >"$work/sends"

"$tolctl" listen --bind "$net" --state "$work/state.json" --idle-timeout 30 >"$work/listen.out" 2>"$work/listen.err" &
emulator=$!
for _ in $(seq 100); do grep -q '^listening on' "$work/listen.out" && break; sleep 0.05; done
grep -q '^listening on' "$work/listen.out" || { echo "fleet: the emulator did not start: $(cat "$work/listen.err")" >&2; exit 1; }

now_ms() { echo $(($(date +%s%N) / 1000000)); }
best_apply=
best_socat=
for run in $(seq $runs); do
    start=$(now_ms)
    xargs -P 32 -I{} socat -u "OPEN:$work/cut.bin" "TCP:{}:9100" <"$work/sends"
    socat_ms=$(($(now_ms) - start))

    start=$(now_ms)
    if ! "$tolctl" apply "$work/profile.json" --target "socket://$net" --jobs 32 --gap 0 >"$work/table.txt" 2>"$work/apply.err"; then
        echo "fleet: apply failed: $(cat "$work/apply.err")" >&2
        grep -v ' ok ' "$work/table.txt" | head >&2
        exit 1
    fi
    apply_ms=$(($(now_ms) - start))
    echo "run $run: socat ${socat_ms} ms, apply ${apply_ms} ms"
    [ -n "$best_socat" ] && [ "$best_socat" -le "$socat_ms" ] || best_socat=$socat_ms
    [ -n "$best_apply" ] && [ "$best_apply" -le "$apply_ms" ] || best_apply=$apply_ms
done

# The emulator writes its final state when it stops.
kill -TERM "$emulator"
wait "$emulator" || true
emulator=

/usr/bin/python3 - "$work/profile.json" "$work/state.json" "$count" "$runs" <<'PY'
import json, sys
profile = json.load(open(sys.argv[1]))
printers = json.load(open(sys.argv[2]))["printers"]
count, runs = int(sys.argv[3]), int(sys.argv[4])
settings = sum(len(v) if k == "lan" else 1 for k, v in profile.items())
wrong = []
for name, state in printers.items():
    for key, value in profile.items():
        if state.get(key) != value:
            wrong.append("%s: %s is %r, not %r" % (name, key, state.get(key), value))
    if state["connections"] != runs * (settings + 7):
        wrong.append("%s: %d connections, expected %d" % (name, state["connections"], runs * (settings + 7)))
    if state["counts"]["cut"] != runs * 7 or state["undecoded-bytes"] != 0:
        wrong.append("%s: %d cuts, %d bytes undecoded" % (name, state["counts"]["cut"], state["undecoded-bytes"]))
if len(printers) != count:
    wrong.append("%d printers in the state, expected %d" % (len(printers), count))
for line in wrong[:10]:
    print("fleet: " + line)
if wrong:
    sys.exit("fleet: %d differences: not every byte arrived" % len(wrong))
print("every byte arrived: all %d printers hold the profile's %d settings" % (count, settings))
PY

echo "socat (xargs -P 32, $((count * 7)) sends): ${best_socat} ms"
echo "tolctl apply (--jobs 32 --gap 0, $count printers x 7 settings): ${best_apply} ms"
/usr/bin/python3 -c "import sys; print('ratio: %.1fx (target >= 10x)' % (int(sys.argv[1]) / max(int(sys.argv[2]), 1)))" "$best_socat" "$best_apply"
