#!/usr/bin/env bash
# lintian on the package: no error. Every tag it shows is printed, so that the
# warnings kept stay visible in the test's output.
set -euo pipefail
deb=$1
[ -f "$deb" ] || { echo "no package at $deb (build it: ./scripts/package)" >&2; exit 1; }
report=$(lintian --fail-on none --display-info "$deb")
echo "lintian on $(basename "$deb"):"
echo "${report:-  (nothing to report)}"
if grep -q '^E: ' <<<"$report"; then
  echo "lintian reports errors" >&2
  exit 1
fi
