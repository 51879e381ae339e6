#!/usr/bin/env bash
# Builds the program (the plain flavour) and runs the setup wizard in the
# foreground:   run.sh [ARGUMENT...]
#
# The wizard runs from build/<flavour>/run/, a folder holding the program,
# its Resources and the test-feature key, so that its automation socket
# listens and testing/mui_client.py can drive it from a second terminal
# (the build's own folder stays without the key).  The process id and the
# socket's path come first; then the program logs to the terminal (level
# 30) and to its log file (level 100), set before the caller's arguments,
# which may change them.  Ctrl-C ends it.
#
# YARL_FLAVOUR (plain or sanitize) and YARL_BUILD_DIR choose another tree.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
flavour="${YARL_FLAVOUR:-plain}"
build="${YARL_BUILD_DIR:-$root/build/$flavour}"
# The build talks on standard error: standard output starts with the
# process id.
YARL_BUILD_DIR="$build" "$root/scripts/build.sh" "$flavour" --target vuzovuvivovevada >&2

run="$build/run"
mkdir -p "$run"
ln -f "$build/vuzovuvivovevada" "$run/vuzovuvivovevada" 2>/dev/null || cp -f "$build/vuzovuvivovevada" "$run/"
ln -sfn "$build/Resources" "$run/Resources"
cp -f "$root/qocore/base/qoutil/tests/data/TestFeaturesEnableKey" "$run/"

echo "Process $$"
echo "Automation socket /tmp/.yarl-$(id -u)/vuzovuvivovevada.MuiComms.$$"
exec "$run/vuzovuvivovevada" 'Log=*:stderr:30,*:file:100' "$@"
