#!/usr/bin/env bash
# Configures and builds presets: build.sh [PRESET...] [-- TARGET...] (default presets: native and
# windows; default targets: all of them).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    presets+=("$1")
    shift
done
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native windows)
for preset in "${presets[@]}"; do
    # A build tree that an older checkout made with Make is configured again for Ninja; the rest of
    # the tree (the Wine prefix among it) stays.
    cache=build/$preset/CMakeCache.txt
    if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
        rm -rf "$cache" "build/$preset/CMakeFiles"
    fi
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" ${targets[@]+--target "${targets[@]}"}
done
