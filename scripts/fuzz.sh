#!/usr/bin/env bash
# Builds the fuzz targets with clang++ and libFuzzer and runs each one:
#   fuzz.sh [seconds per target]   (default 30; CI uses the default)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-30}"
"$root/scripts/deps.sh"
build="$root/build/fuzz"
CXX=clang++ CC=clang cmake -S "$root" -B "$build" -G Ninja \
  -DYARL_FUZZ=ON -DYARL_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
