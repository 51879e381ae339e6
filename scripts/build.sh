#!/usr/bin/env bash
# Configures and builds one flavour: build.sh [plain|sanitize] [BUILD ARGUMENT...]
# The tree goes to build/<flavour> (YARL_BUILD_DIR names another folder).
# Further arguments go to `cmake --build` (say, --target <name>).  Warnings
# are errors in both flavours.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
flavour="${1:-plain}"
shift || true
# The sanitized flavour is also the checked one: without NDEBUG, so the
# debug-only checks (the loops' and timer manager's owner thread) run too.
case "$flavour" in
  plain) sanitize=OFF type=RelWithDebInfo ;;
  sanitize) sanitize=ON type=Debug ;;
  *) echo "usage: $0 [plain|sanitize] [BUILD ARGUMENT...]" >&2; exit 2 ;;
esac

"$root/scripts/deps.sh"
build="${YARL_BUILD_DIR:-$root/build/$flavour}"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE="$type" -DYARL_WERROR=ON -DYARL_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" --parallel "$(nproc)" "$@"
