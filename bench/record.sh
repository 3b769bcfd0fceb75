#!/usr/bin/env bash
# The fleet record's speed and size (release build), as measured facts, not assertions:
# 1. Its writer under an apply's load (bench/RecordBench.cpp): 65,536 printers x 7 commands served
#    by 1,024 jobs, the same loop without the record and with it (each command written in flight
#    while its port opens, waited for before it is sent, then given its result), first with no
#    time for the send (what the record alone can take, in commands a second), then with 40 ms a
#    send, which serves about as many commands a second as a real apply of 65,536 emulated
#    printers does here (about 14,000).
# 2. A record of 100,000 printers and 1,000,000 commands sent (two roll-outs; imported from JSON
#    lines made here): the time of `record printers` in each format, of `record diff` of a profile
#    over them, of one printer's history, of the roll-outs and of one roll-out's printers, best of
#    three; and the bytes a command.
# 3. (--apply, or APPLY=1) A real apply of PRINTERS emulated printers (four emulators on 127.63.0.0/16)
#    x 7 settings, --gap 0 --jobs 128, with the record and with --no-record, RUNS runs each
#    (default 3), alternating: each run's times (and tolctl's processor time: on a machine whose
#    processors the emulators and tolctl keep busy, the record's own work shows there), its ratio,
#    the best times and their ratio, the median of the runs' ratios, and the record's bytes a command;
#    then the same for up to 8,192 printers that take 20 ms to read each command (a fifth emulator),
#    whose apply waits on the printers rather than on this machine's processors.
# Only files in a scratch folder, only loopback addresses.
# Usage: bench/record.sh [--apply] [PRINTERS]   (default 65536)
set -euo pipefail
cd "$(dirname "$0")/.."
apply=${APPLY:-0}
if [ "${1:-}" = --apply ]; then
    apply=1
    shift
fi
printers=${1:-65536}
runs=${RUNS:-3}
scripts/build.sh release -- tolctl record_bench >/dev/null
tolctl=$PWD/build/release/tolctl/tolctl
bench=$PWD/build/release/bench/record_bench
source tests/support/lib.sh
tol_begin tol-record "$tolctl"

if [ "$apply" = 1 ]; then
    echo "== apply of $printers emulated printers x 7 settings, with the record and without"
    cat >"$work/profile.json" <<'JSON'
{"wifi-ap": {"name": "Shop Printer", "mode": "ap"}, "bt-name": "Printer", "bt-pin": "6042",
 "wifi-station": {"ssid": "Shop", "password": "shop-secret", "mask": "255.0.0.0", "gateway": "10.0.0.1"},
 "lan": {"mask": "255.255.255.0", "gateway": "192.168.1.1", "mac": "9E:22:56:1C"}}
JSON
    # Four emulators of 16,384 printers each (one process may not open 65,536 sockets).
    ports=()
    for quarter in 0 1 2 3; do
        tol_listen --port $((19300 + quarter * 211)) --bind "127.63.$((quarter * 64)).0/18" --idle-timeout 30
        ports+=("$port")
    done
    # A fifth of printers that take 20 ms to read each command, for the second measure.
    tol_listen --port 20144 --bind 127.64.0.0/19 --idle-timeout 30 --fault 127.64.0.0/19=slow:20
    slow_port=$port
    python3 -c 'import sys
for p in range(int(sys.argv[1])):
    c, d = p // 256 % 256, p % 256
    print("socket://127.63.%d.%d:%s wifi-station.ip=10.%d.%d.10" % (c, d, sys.argv[2 + c // 64], c, d))' \
        "$printers" "${ports[@]}" >"$work/targets.txt"
    # The median of the numbers "$@".
    median() {
        printf '%s\n' "$@" | sort -n | awk '{ r[NR] = $1 } END { print (NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2) }'
    }
    # Runs the apply with the options "$@": its time in $took (ns) and tolctl's processor time (user
    # and system) in $cpu (s).
    timed_apply() {
        local start TIMEFORMAT='%U %S'
        start=$(now_ns)
        { time "$tolctl" apply "$work/profile.json" --targets "$targets" --gap 0 --jobs 128 "$@" \
            >"$work/apply.out" 2>"$work/apply.err"; } 2>"$work/time.out"
        took=$(($(now_ns) - start))
        cpu=$(awk '{ printf "%.1f", $1 + $2 }' "$work/time.out")
    }
    # $runs runs of the apply to the printers of file $targets with the record and without,
    # alternating: each run's times and ratio; the best times in $with and $without, the ratios in
    # $pairs.
    paired_runs() {
        with= without= pairs=()
        for run in $(seq "$runs"); do
            rm -f "$work/apply.sqlite"*
            timed_apply --record "$work/apply.sqlite"
            [ -n "$with" ] && [ "$with" -le "$took" ] || with=$took
            pair=$took pair_cpu=$cpu
            timed_apply --no-record
            [ -n "$without" ] && [ "$without" -le "$took" ] || without=$took
            pairs+=("$(ratio "$pair" "$took")")
            echo "run $run: with the record $(ms "$pair") ms ($pair_cpu s of processor time)," \
                "--no-record $(ms "$took") ms ($cpu s), ratio ${pairs[-1]}x"
        done
    }
    targets=$work/targets.txt
    paired_runs
    commands=$((printers * 7))
    size=$(($(stat -c %s "$work/apply.sqlite") + $(stat -c %s "$work/apply.sqlite-wal" 2>/dev/null || echo 0)))
    echo "best with the record: $(ms "$with") ms; best --no-record: $(ms "$without") ms; ratio $(ratio "$with" "$without")x"
    echo "median of the runs' ratios: $(median "${pairs[@]}")x"
    echo "the record: $size bytes for $commands commands ($(awk -v s="$size" -v n="$commands" 'BEGIN { printf "%.0f", s / n }') bytes a command, a row for each setting a command sends: 14 a printer)"
    # Printers that take 20 ms to read each command (the emulator's own take none): the apply
    # then waits on the printers more than on this machine's processors, as one of a real fleet
    # does, and the record's work is done meanwhile.
    slow=$((printers < 8192 ? printers : 8192))
    echo "== apply of $slow emulated printers that take 20 ms a command x 7 settings, with the record and without"
    python3 -c 'import sys
for p in range(int(sys.argv[1])):
    print("socket://127.64.%d.%d:%s wifi-station.ip=10.%d.%d.10" % (p // 256, p % 256, sys.argv[2], p // 256, p % 256))' \
        "$slow" "$slow_port" >"$work/slow.txt"
    targets=$work/slow.txt
    paired_runs
    echo "median of the runs' ratios: $(median "${pairs[@]}")x"
fi

echo "== the record's writer"
"$bench" "$work/write-0.sqlite" "$printers" 7 1024 0
"$bench" "$work/write-40.sqlite" "$printers" 7 1024 40000

echo "== a record of 100,000 printers and 1,000,000 commands"
python3 - "$work/big.jsonl" <<'PY'
import json, sys
out = open(sys.argv[1], "w")
w = lambda o: out.write(json.dumps(o, separators=(",", ":")) + "\n")
w({"type": "tolctl-record", "version": 1})
w({"type": "key", "uuid": "00000000-0000-4000-8000-000000000000", "secret": "ab" * 32})
settings = ["wifi-ap.name", "wifi-ap.mode", "bt-name", "bt-pin", "lan.ip", "lan.mask", "wifi-station.password"]
rollouts = [("11111111-1111-4111-8111-111111111111", settings, 1765000000000),
            ("22222222-2222-4222-8222-222222222222", ["bt-pin", "lan.ip", "wifi-station.password"], 1765100000000)]
for uuid, _, start in rollouts:
    w({"type": "rollout", "uuid": uuid, "kind": "apply", "started": start, "ended": start + 3600000,
       "user-host": "bench@host", "version": "1.0.0.1", "profile": "shop.json", "digest": "x", "options": {},
       "counts": {"printers": 100000}, "key": "00000000-0000-4000-8000-000000000000"})
for uuid, keys, start in rollouts:
    seq = 0
    for p in range(100000):
        target = "socket://127.%d.%d.%d:9100" % (64 + p // 65536, p // 256 % 256, p % 256)
        for key in keys:
            seq += 1
            secret = key.endswith("password")
            value = "%08x" % ((p * 7 + seq) & 0xffffffff) if secret else "value-%d-%d" % (p % 97, seq % 13)
            w({"type": "send", "rollout": uuid, "seq": seq, "target": target, "setting": key, "value": value,
               "secret": secret, "result": "sent" if seq % 50 else "failed",
               "error": None if seq % 50 else "connection refused", "time": start + seq})
for p in range(100000):
    target = "socket://127.%d.%d.%d:9100" % (64 + p // 65536, p // 256 % 256, p % 256)
    w({"type": "status", "target": target, "time": 1765200000000, "seq": 1, "state": "ok", "conditions": ""})
PY
record=$work/big.sqlite
start=$(now_ns)
"$tolctl" record import "$work/big.jsonl" --record "$record" >/dev/null
echo "import of $(wc -l <"$work/big.jsonl") lines: $(ms $(($(now_ns) - start))) ms"
echo "record size: $(stat -c %s "$record") bytes, $(awk -v s="$(stat -c %s "$record")" 'BEGIN { printf "%.0f", s / 1e6 }') bytes a command"

best() {
    local label=$1 best= start took
    shift
    for _ in 1 2 3; do
        start=$(now_ns)
        "$tolctl" "$@" --record "$record" >"$work/out" || [ $? -eq 1 ]  # diff: 1 when any differs
        took=$(($(now_ns) - start))
        [ -z "$best" ] || [ "$took" -lt "$best" ] && best=$took
    done
    echo "$label: $(ms "$best") ms ($(wc -l <"$work/out") lines)"
}
best "record printers (table)" record printers
best "record printers --format csv" record printers --format csv
best "record printers --format json" record printers --format json
best "record printers --target a /24" record printers --target socket://127.64.3.0/24
cat >"$work/diff.json" <<'JSON'
{"wifi-ap": {"name": "value-1-2", "mode": "ap"}, "bt-name": "value-3-4", "bt-pin": "1234",
 "lan": {"mask": "255.255.255.0"}}
JSON
printf 'socket://127.64.0.0/16:9100\nsocket://127.65.0.0/17:9100\n' >"$work/diff-targets.txt"
best "record diff of 5 settings over about $(( 65536 + 32768 )) printers" record diff "$work/diff.json" --targets "$work/diff-targets.txt" --format csv
best "record history of one printer" record history socket://127.64.1.1
best "record rollouts" record rollouts
best "record rollout of 100,000 printers" record rollout 2222
