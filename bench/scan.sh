#!/usr/bin/env bash
# tolctl scan against nmap on the same loopback /24 (127.0.1.0/24), measured side by side in one
# run: once with all 256 addresses listening, once with 10 of 256. Prints each tool's time per
# scan, the ratio (the aim: tolctl at most twice nmap's time) and whether both found the same set.
# Usage: bench/scan.sh [RUNS]   (RUNS scans of each tool per case, taken in turns; default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
command -v nmap >/dev/null || { echo "bench: nmap is missing (scripts/setup.sh installs it)" >&2; exit 1; }
tolctl=$(bench/release.sh)
source tests/support/lib.sh
tol_begin tol-bench "$tolctl"
network=127.0.1.0/24

nmap_set() {
    nmap -p"$port" --open -n -T5 "$network" -oG - | grep '/open/' | sed -E 's/^Host: ([0-9.]+).*/\1/' | sort -V
}
tolctl_set() {
    "$tolctl" scan "$network" --tcp-port "$port" 2>/dev/null | sed -E 's|^socket://([0-9.]+).*|\1|' | sort -V
}

# Times both tools on the emulator that runs now.
compare() {
    local name=$1 nmap_ns=0 tolctl_ns=0 start i
    nmap_set >"$work/nmap.txt"
    tolctl_set >"$work/tolctl.txt"
    for i in $(seq "$runs"); do
        start=$(now_ns)
        nmap_set >/dev/null
        nmap_ns=$((nmap_ns + $(now_ns) - start))
        start=$(now_ns)
        tolctl_set >/dev/null
        tolctl_ns=$((tolctl_ns + $(now_ns) - start))
    done
    local equal=no
    cmp -s "$work/nmap.txt" "$work/tolctl.txt" && equal=yes
    printf '%-16s nmap %7s ms   tolctl scan %7s ms   ratio %s (aim: <= 2.00)   found %s/%s   same set: %s\n' \
        "$name" "$(ms $nmap_ns "$runs")" "$(ms $tolctl_ns "$runs")" "$(ratio $tolctl_ns $nmap_ns)" \
        "$(wc -l <"$work/tolctl.txt")" "$(wc -l <"$work/nmap.txt")" "$equal"
}

echo "scan of $network, port as printed, $runs runs each, times per scan:"
tol_listen --port 0 --bind "$network"
compare "256 listening"
tol_stop_emulator

# 10 printers spread over the /24; every other address refuses.
listening=(3 29 57 88 101 130 164 199 222 250)
faults=()
from=0
for last in "${listening[@]}" 256; do
    [ "$from" -le $((last - 1)) ] && faults+=(--fault "127.0.1.$from-$((last - 1))=refuse")
    from=$((last + 1))
done
tol_listen --port 0 --bind "$network" "${faults[@]}"
compare "10 of 256"
echo "(port $port; nmap $(nmap --version | head -n 1 | awk '{print $3}'))"
