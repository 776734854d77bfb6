#!/usr/bin/env bash
# Runs every reference deck through peakpos. NAME.out: standard output must
# be exactly those bytes, standard error empty, status 0. NAME.fatal: the
# deck must be refused with status 2, a "line N" or "line N, column M"
# diagnostic and no output.
set -euo pipefail
peakpos=$1 data=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
pass=0 fail=0
for deck in "$data"/*.deck; do
  name=${deck%.deck}
  status=0
  "$peakpos" < "$deck" > "$tmp/out" 2> "$tmp/err" || status=$?
  if [ -f "$name.out" ]; then
    if [ "$status" -eq 0 ] && cmp -s "$tmp/out" "$name.out" && [ ! -s "$tmp/err" ]; then
      pass=$((pass + 1))
    else
      fail=$((fail + 1)); echo "FAIL $(basename "$name"): status $status"
      cmp "$tmp/out" "$name.out" || true; head -c 300 "$tmp/err"
    fi
  else
    if [ "$status" -eq 2 ] && [ ! -s "$tmp/out" ] && grep -Eq '^peakpos: line [0-9]+(, column [0-9]+)?: ' "$tmp/err"; then
      pass=$((pass + 1))
    else
      fail=$((fail + 1)); echo "FAIL $(basename "$name"): status $status, expected a refusal"
      head -c 300 "$tmp/err"
    fi
  fi
done
echo "golden: $pass passed, $fail failed"
[ "$fail" -eq 0 ] && [ "$pass" -gt 0 ]
