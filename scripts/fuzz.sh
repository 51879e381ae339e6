#!/usr/bin/env bash
# Builds the fuzz targets with clang++ and libFuzzer and runs each one for a
# while, starting from its corpus (fuzz/corpus/<name>/):
#   fuzz.sh [seconds per target]   (default 30)
# For longer local runs; CI only replays the corpora, as ordinary tests of
# the g++ build.  The tree (build/fuzz) also checks the thread-safety
# annotations (clang's -Wthread-safety; reported as warnings).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-30}"
"$root/scripts/deps.sh" fuzz
build="$root/build/fuzz"
CXX=clang++ CC=clang cmake -S "$root" -B "$build" -G Ninja \
  -DYARL_FUZZ=ON -DYARL_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
