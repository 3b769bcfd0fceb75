#!/usr/bin/env bash
# Sets everything up, builds, and shows tolctl at work: the command-line companion builds every
# setting command, prints its bytes, and decodes bytes back into commands.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh native >/dev/null
tolctl=build/native/tolctl/tolctl
unhex() { for byte in $(cat); do printf "\\x$byte"; done; }
echo "\$ tolctl --help"
"$tolctl" --help
for args in "wifi-ap --name Thermal\ Printer --mode ap" "lan-ip 192.168.1.123" "cut"; do
    eval "set -- $args"
    echo
    echo "\$ tolctl --dry-run $args"
    "$tolctl" --dry-run "$@"
    echo "\$ ... | tolctl decode   (the bytes above, decoded)"
    "$tolctl" --dry-run "$@" | unhex | "$tolctl" decode
done
