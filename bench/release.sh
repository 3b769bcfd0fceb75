#!/usr/bin/env bash
# Builds a release tolctl (optimised, no sanitizers) in build/release for the benchmarks and
# prints its path. Usage: bench/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release -- tolctl >/dev/null
echo "$PWD/build/release/tolctl/tolctl"
