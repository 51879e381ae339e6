#!/usr/bin/env bash
# Builds the plain flavour and runs every benchmark under bench/, or only the
# named ones:  bench.sh [name ...]   (for example: bench.sh stream_bench)
# Each runs three times, its repetitions interleaved at random with those of
# the other benchmarks in its file so that a slower spell of the machine
# does not fall on one row alone, and reports medians; then the program's
# start (bench/setup_start.py, 20 starts; by name: setup_start).  The output ends
# in a table of every speed target's measured ratio against its reference,
# measured in the same run (scripts/bench_table.py).  Options for Google
# Benchmark can be passed through BENCH_ARGS
# (BENCH_ARGS=--benchmark_filter=Regex).  Every run is pinned to one core,
# BENCH_CPU, by default the last one this script may use, so a run does not
# wander between cores.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh" plain
cpu="${BENCH_CPU:-$(taskset -pc $$ | grep -o '[0-9]*$')}"
pin=(taskset -c "$cpu")
cd "$root/build/plain/bench"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for exe in *_bench; do [ -x "$exe" ] && names+=("$exe"); done
  names+=(setup_start)
fi
results="$(mktemp -d)"
trap 'rm -rf "$results"' EXIT
echo "== pinned to core $cpu"
for name in "${names[@]}"; do
  echo "== $name"
  if [ "$name" = setup_start ]; then
    # A missed target is the table's to report; a start that failed wrote
    # no results and stops this script.
    "${pin[@]}" python3 "$root/bench/setup_start.py" "$root/build/plain" 20 --benchmark_out="$results/$name.json" ||
      [ -s "$results/$name.json" ]
    continue
  fi
  # shellcheck disable=SC2086
  "${pin[@]}" "./$name" --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/$name.json" --benchmark_out_format=json ${BENCH_ARGS:-}
done
echo "== speed targets"
python3 "$root/scripts/bench_table.py" "$results"/*.json
