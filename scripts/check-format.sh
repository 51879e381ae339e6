#!/usr/bin/env bash
# Checks that every tracked C++ file is formatted as the committed
# .clang-format says; prints each difference and exits non-zero if any.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
if ! git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r -n 32 -P "$(nproc)" clang-format --dry-run -Werror; then
  echo "format: FAILED (clang-format -i <file> formats a file)"
  exit 1
fi
echo "format: $(git ls-files -- '*.cpp' '*.h' | wc -l) files as .clang-format says"
