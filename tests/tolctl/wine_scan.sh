#!/usr/bin/env bash
# tolctl.exe scan (and status) under Wine against tolctl.exe's own emulator: a /28 of loopback
# printers with some missing (refused), one stalled, one that resets and one slow to answer.
# Usage: wine_scan.sh TOLCTL.exe
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scripts=$here/../../scripts
source "$here/../support/lib.sh"
tol_begin tol-wine-scan "$1"
scan() { "$scripts/wine-run.sh" "$tolctl" scan "$@" 2>"$work/err" </dev/null | tr -d '\r'; }

tol_listen --bind 127.0.2.32/28 --port 0 --fault 127.0.2.35-36=refuse --fault 127.0.2.39=stall \
    --fault 127.0.2.41=reset --fault 127.0.2.43=slow:3000 --condition 127.0.2.42=paper-near-end

expected() {  # the printers that answer, each line followed by $1 (the slow and the reset one by $2)
    local last
    for last in $(seq 32 47); do
        case $last in 35 | 36 | 39) continue ;; esac
        case $last in 41 | 43) echo "socket://127.0.2.$last:$port${2-}" ;; *) echo "socket://127.0.2.$last:$port${1-}" ;; esac
    done
}

got=$(scan 127.0.2.32/28 --tcp-port "$port" --timeout 400)
[ "$got" = "$(expected)" ] || fail "scan listed:"$'\n'"$got"
[ ! -s "$work/err" ] || fail "scan said: $(cat "$work/err")"

got=$(scan 127.0.2.32/28 --tcp-port "$port" --timeout 400 --probe)
[ "$got" = "$(expected '  # status 16 ok drawer-pin-high' '  # status - no-answer')" ] || fail "scan --probe listed:"$'\n'"$got"

got=$(scan 127.0.2.40-42 --tcp-port "$port" --timeout 400 --probe --format json)
[ "$(grep -c '"status": "16"' <<<"$got")" -eq 2 ] && [ "$(grep -c '"status": null' <<<"$got")" -eq 1 ] ||
    fail "scan --format json gave:"$'\n'"$got"

got=$(scan 127.0.2.36 --tcp-port "$port")
[ -z "$got" ] && grep -q "no printer answered" "$work/err" || fail "a refused address: '$got' $(cat "$work/err")"
# status of four of them: two answer (one with its paper near its end, which DLE EOT 1 alone does
# not show), the resetting and the slow one give no answer; exit code 1.
"$scripts/wine-run.sh" "$tolctl" status --target "socket://127.0.2.40-43:$port" --timeout 400 --format json \
    >"$work/status.json" 2>"$work/err" </dev/null
code=$?
got=$(tr -d '\r' <"$work/status.json")
states=$(grep -o '"state": "[a-z-]*"' <<<"$got" | cut -d'"' -f4 | tr '\n' ' ')
[ $code -eq 1 ] && [ "$states" = "ok no-answer warning no-answer " ] &&
    [ "$(grep -c '"answers": "16 12 12 12"' <<<"$got")" -eq 1 ] && grep -q '"answers": "16 12 12 1e"' <<<"$got" || fail "status exited $code and gave:"$'\n'"$got"

"$scripts/wine-run.sh" "$tolctl" scan 127.0.2.32/8 >/dev/null 2>&1 </dev/null
[ $? -eq 2 ] || fail "a /8 is not refused with exit code 2"
echo "tolctl.exe scan found the printers of 127.0.2.32/28 that answer, with their status bytes; status read them"
