#!/usr/bin/env bash
# Builds the plain flavour and runs every benchmark under bench/, or only the
# named ones:  bench.sh [name ...]   (for example: bench.sh stream_bench)
# Each runs three times and reports medians; the output ends in a table of
# every speed target's measured ratio against its reference, measured in
# the same run (scripts/bench_table.py).  Options for Google Benchmark can
# be passed through BENCH_ARGS (BENCH_ARGS=--benchmark_filter=Regex).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh" plain
cd "$root/build/plain/bench"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for exe in *_bench; do [ -x "$exe" ] && names+=("$exe"); done
fi
results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT
for name in "${names[@]}"; do
  echo "== $name"
  # shellcheck disable=SC2086
  "./$name" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/$name.json" --benchmark_out_format=json ${BENCH_ARGS:-}
done
echo "== speed targets"
python3 "$root/scripts/bench_table.py" "$results"/*.json
