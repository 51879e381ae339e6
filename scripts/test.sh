#!/usr/bin/env bash
# Builds one flavour and runs every test, the fuzz corpus replays included:
#   test.sh [plain|sanitize]   (default: plain)
# The sanitize flavour runs with leak and initialisation-order checks on.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
flavour="${1:-plain}"
"$root/scripts/build.sh" "$flavour"

if [ "$flavour" = sanitize ]; then
  export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
cd "$root/build/$flavour"
ctest --output-on-failure -j "$(nproc)"
