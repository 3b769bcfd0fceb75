#!/usr/bin/env bash
# Configures and builds presets: build.sh [native] [windows] [fuzz] (default: native and windows).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native windows)
for preset in "${presets[@]}"; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
done
