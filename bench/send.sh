#!/usr/bin/env bash
# One `tolctl cut` (release build) against socat sending the same 3 bytes to the same loopback
# printer, measured side by side with hyperfine. Prints both times and the ratio (the aim:
# tolctl at or below socat's time).
# Usage: bench/send.sh [RUNS]   (default 300 sends each)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-300}
for tool in hyperfine socat; do
    command -v $tool >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
tolctl=$(bench/release.sh)
source tests/support/lib.sh
tol_begin tol-bench "$tolctl"

tol_listen --port 0 --bind 127.0.0.1
printf '\x1d\x56\x01' >"$work/cut.bin"
hyperfine -N --warmup 30 --runs "$runs" --style none --export-csv "$work/send.csv" \
    -n "tolctl cut" "$tolctl --port socket://127.0.0.1:$port cut" \
    -n "socat" "socat -u OPEN:$work/cut.bin TCP:127.0.0.1:$port" >/dev/null 2>"$work/hyperfine.err" ||
    { cat "$work/hyperfine.err" >&2; exit 1; }
# command,mean,stddev,median,user,system,min,max (seconds)
tolctl_mean=$(awk -F, '$1 == "tolctl cut" { print $2 }' "$work/send.csv")
socat_mean=$(awk -F, '$1 == "socat" { print $2 }' "$work/send.csv")
tolctl_median=$(awk -F, '$1 == "tolctl cut" { print $4 }' "$work/send.csv")
socat_median=$(awk -F, '$1 == "socat" { print $4 }' "$work/send.csv")
awk -v tm="$tolctl_mean" -v sm="$socat_mean" -v td="$tolctl_median" -v sd="$socat_median" -v runs="$runs" 'BEGIN {
    printf "one send of 1d 56 01 to 127.0.0.1, %d runs each:\n", runs
    printf "  tolctl cut  mean %.2f ms  median %.2f ms\n", tm * 1000, td * 1000
    printf "  socat       mean %.2f ms  median %.2f ms\n", sm * 1000, sd * 1000
    printf "  ratio tolctl/socat: mean %.2f, median %.2f (aim: <= 1.00): %s\n", tm / sm, td / sd,
           tm <= sm ? "at or below socat" : "ABOVE socat"
}'
# Every send arrived.
sleep 0.2
echo "  cuts received by the emulator: $(grep -c '^cut$' "$emulator_out") (of $((2 * runs + 60)))"
