#!/usr/bin/env bash
# cloud-fixture-test.sh <cloud_fixture> <data folder>
# The fixture tool writes the expected bytes of a BED document and of a
# section package.
set -euo pipefail
tool="$1" data="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$tool" bed "$data/sample.json" "$work/sample.bed"
cmp "$work/sample.bed" "$data/sample.bed"
"$tool" package "$work/sample.pkg" "b=$data/b.txt" "a=$data/a.txt"
cmp "$work/sample.pkg" "$data/sample.pkg"
# A description with null has no BED form.
echo '{"a": null}' > "$work/null.json"
if "$tool" bed "$work/null.json" "$work/null.bed" 2>"$work/err"; then exit 1; fi
grep -q "JSON null has no BED form" "$work/err"
echo "cloud_fixture: ok"
