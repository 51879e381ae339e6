#!/usr/bin/env bash
# Builds the plain flavour and runs the stream benchmark: bench.sh [benchmark options]
set -euo pipefail; root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"; "$root/scripts/build.sh" plain && "$root/build/plain/bench/stream_bench" "$@"
