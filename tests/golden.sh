#!/usr/bin/env bash
# Runs every reference deck through peakpos, as many at once as there are
# processors. NAME.out: standard output must be exactly those bytes,
# standard error empty, status 0. NAME.fatal: the deck must be refused with
# status 2, a "line N" or "line N, column M" diagnostic and no output.
set -euo pipefail
export peakpos=$1
data=$2
tmp=$(mktemp -d)
export tmp
trap 'rm -rf "$tmp"' EXIT

# Prints PASS, or FAIL with the reason, for one deck.
check_deck() {
  local deck=$1 name=${1%.deck} out err status=0
  out=$tmp/$(basename "$name").out err=$tmp/$(basename "$name").err
  "$peakpos" < "$deck" > "$out" 2> "$err" || status=$?
  if [ -f "$name.out" ]; then
    if [ "$status" -eq 0 ] && cmp -s "$out" "$name.out" && [ ! -s "$err" ]; then
      echo PASS
    else
      echo "FAIL $(basename "$name"): status $status"
      cmp "$out" "$name.out" || true; head -c 300 "$err"; echo
    fi
  else
    if [ "$status" -eq 2 ] && [ ! -s "$out" ] && grep -Eq '^peakpos: line [0-9]+(, column [0-9]+)?: ' "$err"; then
      echo PASS
    else
      echo "FAIL $(basename "$name"): status $status, expected a refusal"
      head -c 300 "$err"; echo
    fi
  fi
  rm -f "$out" "$err"
}
export -f check_deck

printf '%s\0' "$data"/*.deck |
  xargs -0 -n 25 -P "$(nproc)" bash -c 'for deck; do check_deck "$deck"; done' _ > "$tmp/results"
grep -v '^PASS$' "$tmp/results" || true
pass=$(grep -c '^PASS$' "$tmp/results" || true)
fail=$(grep -c '^FAIL' "$tmp/results" || true)
echo "golden: $pass passed, $fail failed"
[ "$fail" -eq 0 ] && [ "$pass" -gt 0 ]
