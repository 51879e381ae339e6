#!/usr/bin/env bash
# Configures and builds one flavour: build.sh [plain|sanitize]
# The tree goes to build/<flavour>.  Warnings are errors in both flavours.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
flavour="${1:-plain}"
case "$flavour" in
  plain) sanitize=OFF ;;
  sanitize) sanitize=ON ;;
  *) echo "usage: $0 [plain|sanitize]" >&2; exit 2 ;;
esac

"$root/scripts/deps.sh"
build="$root/build/$flavour"
cmake -S "$root" -B "$build" -G Ninja \
  -DYARL_WERROR=ON -DYARL_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
