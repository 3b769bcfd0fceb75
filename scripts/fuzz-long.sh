#!/usr/bin/env bash
# Runs every fuzz target for long, one after the other, and prints per target the executions, the
# time taken and what was found (crashes, sanitizer reports, broken properties).
# Usage: scripts/fuzz-long.sh [DECODE_RUNS] [OTHER_RUNS]   (default 10000000 and 1000000)
# Exits non-zero when anything was found; the inputs are kept in build/fuzz/long/.
set -uo pipefail
cd "$(dirname "$0")/.."
decode_runs=${1:-10000000}
other_runs=${2:-1000000}

scripts/setup.sh || exit 1
scripts/build.sh fuzz >/dev/null || { echo "fuzz-long: build failed"; exit 1; }

bin=build/fuzz/tests/fuzz
out=build/fuzz/long
mkdir -p "$out"
status=0
printf '%-10s %14s %9s %8s %8s  %s\n' target executions seconds exec/s crashes reports
for target in decode port_uri values text dry_run; do
    runs=$other_runs
    [ "$target" = decode ] && runs=$decode_runs
    mapfile -t options <"$bin/$target.options"  # the options of the CTest runs
    options+=(-runs="$runs" -artifact_prefix="$out/$target-")
    rm -f "$out/$target"-crash-* "$out/$target"-leak-* "$out/$target"-timeout-* "$out/$target"-oom-*
    log=$out/$target.log
    start=$(date +%s.%N)
    "$bin/fuzz_$target" "${options[@]}" "$bin/corpus/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1
    code=$?
    seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    crashes=$(find "$out" -name "$target-*" -type f | wc -l)
    reports=$(grep -cE 'ERROR: AddressSanitizer|runtime error|ERROR: LeakSanitizer|ERROR: libFuzzer|fuzz check failed' "$log")
    [ "$code" -eq 0 ] && [ "$crashes" -eq 0 ] && [ "$reports" -eq 0 ] || status=1
    printf '%-10s %14s %9.1f %8.0f %8s %8s%s\n' "$target" "${executions:-?}" "$seconds" \
        "$(awk -v n="${executions:-0}" -v s="$seconds" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }')" \
        "$crashes" "$reports" \
        "$([ "$code" -eq 0 ] || echo "  exit code $code, see $log")"
done
exit $status
