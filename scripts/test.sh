#!/usr/bin/env bash
# Sets everything up, builds natively, for Windows and for release, and runs every test: natively
# (clang with AddressSanitizer and UBSan, and each fuzz target of that build for a few seconds),
# the Windows programs and packages under Wine, and the .deb of the release build. Exits non-zero
# on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh || exit 1
scripts/build.sh native windows release || { echo "test: build failed"; exit 1; }

status=0
passed=0
failed=0
for preset in native windows release; do
    log=build/$preset/ctest-summary.log
    echo "== tests: $preset =="
    ctest --preset "$preset" -j "$(nproc)" 2>&1 | tee "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        status=1
        continue
    fi
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    t=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + t - f))
    failed=$((failed + f))
done
echo
echo "all: $passed passed, $failed failed"
exit $status
