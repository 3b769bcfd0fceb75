#!/usr/bin/env bash
# Fleet benchmark: 256 printers on loopback, one emulator (`tolctl listen --bind NETWORK --state`),
# each given a profile of 7 settings by `tolctl apply --jobs 32 --gap 0`, side by side with
# `xargs -P 32` running socat for the same 1,792 sends (3 bytes each). Prints both times and the
# ratio, and checks that every byte arrived: each printer's state equals the profile, with as many
# connections as sends and no byte left undecoded. Three runs of each, alternating; the best of
# each counts. Only loopback networks. Usage: bench/fleet.sh [NETWORK]   (default 127.0.1.0/24)
#
# bench/fleet.sh --state-cost [NETWORK]   (default 127.61.0.0/18, 16,384 printers): what --state
# costs the emulator. The same apply to every printer, once with an emulator that keeps its
# --state file and once with one that does not; the emulator's processor time (user + system,
# from its start to its end) of each, two runs each, alternating, the best counting, and the ratio.
#
# bench/fleet.sh --scale [NETWORK]   (default 127.62.0.0/18, 16,384 printers): the same apply
# (--jobs 32 --gap 0) to every printer of one emulator that keeps its --state file, two runs, the
# best counting; prints printers per second and checks every printer's state.
# (`tolctl status` beside nmap: bench/status.sh.)
# TOLCTL=PATH measures that tolctl instead of building build/release.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=compare
case ${1:-} in
--state-cost | --scale)
    mode=${1#--}
    shift
    ;;
esac
default_net=127.0.1.0/24
[ $mode != state-cost ] || default_net=127.61.0.0/18
[ $mode != scale ] || default_net=127.62.0.0/18
net=${1:-$default_net}
case $net in
127.*) ;;
*) echo "fleet: only loopback networks (127.0.0.0/8)" >&2; exit 2 ;;
esac
runs=3

tolctl=${TOLCTL:-$(bench/release.sh)}  # TOLCTL: another build to measure (a before and after)
source tests/support/lib.sh
tol_begin tol-fleet "$tolctl"
# keep_best NAME NS: NAME becomes NS unless it already holds a smaller time.
keep_best() { [ -n "${!1}" ] && [ "${!1}" -le "$2" ] || printf -v "$1" '%s' "$2"; }

cat >"$work/profile.json" <<'JSON'
{
  "wifi-ap": {"name": "Shop Printer", "mode": "ap"},
  "bt-name": "Printer",
  "bt-pin": "6042",
  "wifi-station": {"ssid": "Shop", "password": "shop-secret", "auth": "wpa2psk", "enc": "aes",
                   "mask": "255.0.0.0", "gateway": "10.0.0.1"},
  "lan": {"mask": "255.255.255.0", "gateway": "192.168.1.1", "mac": "9E:22:56:1C"}
}
JSON
printf '\x1d\x56\x01' >"$work/cut.bin"
# A static address belongs to one printer: each gets its own station address, 10.C.D.10 for
# A.B.C.D.
/usr/bin/python3 -c 'import ipaddress, sys
for a in ipaddress.ip_network(sys.argv[1], strict=False):
    c, d = str(a).split(".")[2:]
    print("socket://%s wifi-station.ip=10.%s.%s.10" % (a, c, d))' "$net" >"$work/targets.txt"

if [ $mode = state-cost ]; then
    /usr/bin/python3 - "$tolctl" "$net" "$work" <<'PY'
import os, subprocess, sys
sys.path.insert(0, "tests/support")
import tol
tolctl, net, work = sys.argv[1:]

def emulator_cpu(state):
    """Seconds of processor time an emulator spends on one apply to all its printers."""
    args = [tolctl, "listen", "--bind", net, "--idle-timeout", "30"]
    if state:
        args += ["--state", os.path.join(work, "state.json")]
        if os.path.exists(args[-1]):
            os.remove(args[-1])  # each run's printers start empty, not from the last run's file
    with tol.Serving(args, work, "listen") as emulator:
        applied = subprocess.run([tolctl, "apply", os.path.join(work, "profile.json"), "--targets",
                                  os.path.join(work, "targets.txt"), "--jobs", "32", "--gap", "0"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if applied.returncode != 0:
            sys.exit("fleet: apply failed: " + applied.stderr[:2000])
        code, usage = emulator.stop()
    if code != 0:
        sys.exit("fleet: the emulator ended with %d" % code)
    return usage.ru_utime + usage.ru_stime

best = {False: None, True: None}
for run in range(2):
    for state in (False, True):
        cpu = emulator_cpu(state)
        print("run %d: emulator %s --state: %.2f s of processor time" % (run + 1, "with" if state else "without", cpu))
        best[state] = cpu if best[state] is None else min(best[state], cpu)
print("emulator without --state: %.2f s; with --state: %.2f s; ratio %.2f (target <= 1.5)"
      % (best[False], best[True], best[True] / best[False]))
PY
    exit
fi

# One emulator that keeps every printer's state, for both the comparison and the scale run.
tol_listen --port 9100 --bind "$net" --state "$work/state.json" --idle-timeout 30
count=$(grep -c . "$work/targets.txt")

if [ $mode = scale ]; then
    runs=2
    best=
    for run in $(seq $runs); do
        start=$(date +%s%N)
        if ! "$tolctl" apply "$work/profile.json" --targets "$work/targets.txt" --jobs 32 --gap 0 >"$work/table.txt" 2>"$work/apply.err"; then
            echo "fleet: apply failed: $(head -c 2000 "$work/apply.err")" >&2
            exit 1
        fi
        ns=$(($(date +%s%N) - start))
        echo "run $run: $count printers in $(awk -v ns=$ns 'BEGIN { printf "%.2f", ns / 1e9 }') s"
        keep_best best "$ns"
    done
    tol_stop_emulator
    /usr/bin/python3 - "$work/profile.json" "$work/state.json" "$count" "$runs" <<'PY'
import json, sys
profile = json.load(open(sys.argv[1]))
printers = json.load(open(sys.argv[2]))["printers"]
count, runs = int(sys.argv[3]), int(sys.argv[4])
settings = sum(len(v) if k == "lan" else 1 for k, v in profile.items())
wrong = 0
for name, state in printers.items():
    c, d = name.split(":")[0].split(".")[2:]
    want = dict(profile, **{"wifi-station": dict(profile["wifi-station"], ip="10.%s.%s.10" % (c, d))})
    if any(state.get(k) != v for k, v in want.items()) or state["connections"] != runs * settings:
        wrong += 1
if wrong or len(printers) != count:
    sys.exit("fleet: %d of %d printers do not hold the profile" % (wrong, len(printers)))
print("every byte arrived: all %d printers hold the profile's %d settings" % (count, settings))
PY
    awk -v n="$count" -v ns="$best" 'BEGIN { printf "tolctl apply (--jobs 32 --gap 0, --state, %d printers x 7 settings): %.2f s, %.0f printers/s\n", n, ns / 1e9, n / (ns / 1e9) }'
    exit
fi

# Every address of the network, 7 times: the baseline's 1,792 sends.
/usr/bin/python3 -c 'import ipaddress, sys
for a in ipaddress.ip_network(sys.argv[1], strict=False):
    print(a)' "$net" >"$work/addresses"
for _ in 1 2 3 4 5 6 7; do cat "$work/addresses"; done >"$work/sends"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
best_apply=
best_socat=
for run in $(seq $runs); do
    start=$(now_ms)
    xargs -P 32 -I{} socat -u "OPEN:$work/cut.bin" "TCP:{}:9100" <"$work/sends"
    socat_ms=$(($(now_ms) - start))

    start=$(now_ms)
    if ! "$tolctl" apply "$work/profile.json" --targets "$work/targets.txt" --jobs 32 --gap 0 >"$work/table.txt" 2>"$work/apply.err"; then
        echo "fleet: apply failed: $(cat "$work/apply.err")" >&2
        grep -v ' ok ' "$work/table.txt" | head >&2
        exit 1
    fi
    apply_ms=$(($(now_ms) - start))
    echo "run $run: socat ${socat_ms} ms, apply ${apply_ms} ms"
    keep_best best_socat "$socat_ms"
    keep_best best_apply "$apply_ms"
done

tol_stop_emulator

/usr/bin/python3 - "$work/profile.json" "$work/state.json" "$count" "$runs" <<'PY'
import json, sys
profile = json.load(open(sys.argv[1]))
printers = json.load(open(sys.argv[2]))["printers"]
count, runs = int(sys.argv[3]), int(sys.argv[4])
settings = sum(len(v) if k == "lan" else 1 for k, v in profile.items())
wrong = []
for name, state in printers.items():
    c, d = name.split(":")[0].split(".")[2:]
    for key, value in profile.items():
        if key == "wifi-station":
            value = dict(value, ip="10.%s.%s.10" % (c, d))
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
