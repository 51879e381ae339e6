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
# A signed bootstrap document puts the signed data first: a map (E0) of two
# entries (01 04), then the key "any/signed-data" in full (80 0F ...).
key="$data/../../../qocore/libs/ssl/tests/data/good.key"
"$tool" signed-bed "$data/sample.json" "$key" "$work/signed.bed"
[ "$(head -c 20 "$work/signed.bed" | od -An -tx1 | tr -d ' \n')" = "e00104800f616e792f7369676e65642d64617461" ]
# The signature is the last entry: its key, then 256 signature bytes.
grep -q "any/signed-data-signature" "$work/signed.bed"
if "$tool" signed-bed "$data/sample.json" "$data/a.txt" "$work/bad.bed" 2>"$work/err"; then exit 1; fi
# A description with null has no BED form.
echo '{"a": null}' > "$work/null.json"
if "$tool" bed "$work/null.json" "$work/null.bed" 2>"$work/err"; then exit 1; fi
grep -q "JSON null has no BED form" "$work/err"
echo "cloud_fixture: ok"
