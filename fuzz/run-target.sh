#!/usr/bin/env bash
# run-target.sh <fuzzer> <seed corpus> <work corpus> <seconds>
# Runs one fuzz target over a fresh copy of its seed corpus with a fixed
# seed, so that a run is repeatable and never writes into the repository.
set -euo pipefail
fuzzer="$1" seeds="$2" work="$3" seconds="$4"
rm -rf "$work"
mkdir -p "$work"
if [ -d "$seeds" ]; then cp -R "$seeds"/. "$work"/; fi
exec "$fuzzer" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$work"
