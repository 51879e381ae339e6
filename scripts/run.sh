#!/usr/bin/env bash
# Builds the program and runs it with the given arguments.
# Until the program's entry exists this builds every library and test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/build.sh" plain
