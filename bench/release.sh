#!/usr/bin/env bash
# Builds a release tolctl (optimised, no sanitizers) in build/release for the benchmarks and
# prints its path. Usage: bench/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTOL_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target tolctl -j2 >/dev/null
echo "$PWD/build/release/tolctl/tolctl"
