#!/usr/bin/env bash
# Builds the plain flavour and runs every benchmark under bench/, or only the
# named ones:  bench.sh [name ...]   (for example: bench.sh stream_bench)
# Options for Google Benchmark can be passed through BENCH_ARGS.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh" plain
cd "$root/build/plain/bench"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for exe in *_bench; do [ -x "$exe" ] && names+=("$exe"); done
fi
for name in "${names[@]}"; do
  echo "== $name"
  # shellcheck disable=SC2086
  "./$name" ${BENCH_ARGS:-}
done
