#!/usr/bin/env bash
# A CIF through peakhkl and peakpos into the real Tcl front end of
# tests/frontend, and peakhkl as a process: its exit statuses and streams.
#
#   pipeline.sh PEAKHKL PEAKPOS TCLSH SOURCE_DIR
set -euo pipefail
peakhkl=$1 peakpos=$2 tclsh=$3 src=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for crystal in quartz corundum; do
    "$peakhkl" "$src/examples/$crystal.cif" --wave CuKa1 --tt-max 100 --table "$work/$crystal.tsv" \
        > "$work/$crystal.deck" 2> "$work/err" || fail "peakhkl $crystal.cif: $(cat "$work/err")"
    [ ! -s "$work/err" ] || fail "peakhkl $crystal.cif wrote on standard error: $(cat "$work/err")"
    # The front end evaluates the script peakpos makes of the deck, and checks
    # every stick against the deck.
    "$tclsh" "$src/tests/frontend/frontend.tcl" "$peakpos" "$work/$crystal.deck" ||
        fail "the front end on the deck of $crystal.cif"
    "$peakpos" < "$work/$crystal.deck" > "$work/$crystal.tcl"
    grep -q "^ set $crystal(x) {" "$work/$crystal.tcl" ||
        fail "the script of $crystal.cif is not named $crystal"
    npeak=$(sed -n 4p "$work/$crystal.deck")
    [ "$(head -1 "$work/$crystal.tsv")" = "$(printf 'h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity')" ] ||
        fail "the table's header: $(head -1 "$work/$crystal.tsv")"
    [ "$(($(wc -l < "$work/$crystal.tsv") - 1))" = "$npeak" ] || fail "the table of $crystal.cif has not $npeak rows"
done

# --help and --version on standard output with status 0; an unknown option
# refused with the usage on standard error.
"$peakhkl" --help > "$work/help"
grep -q '^usage: peakhkl' "$work/help" || fail "--help"
[ "$("$peakhkl" --version)" = "peakhkl $(sed -n 's/^project(peakpos VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")" ] ||
    fail "--version: $("$peakhkl" --version)"
expect() { # expect STATUS PATTERN ARGS...: the status, nothing on stdout, PATTERN on stderr
    local want=$1 pattern=$2 status=0
    shift 2
    "$peakhkl" "$@" > "$work/out" 2> "$work/err" || status=$?
    [ "$status" = "$want" ] || fail "peakhkl $*: status $status, not $want"
    [ ! -s "$work/out" ] || fail "peakhkl $*: wrote on standard output"
    grep -q -- "$pattern" "$work/err" || fail "peakhkl $*: stderr lacks $pattern: $(cat "$work/err")"
}
expect 2 '^usage: peakhkl' --bogus
expect 2 '^peakhkl: --wave: expected the wavelength' "$src/examples/quartz.cif"
expect 1 '^peakhkl: /nonexistent/t.tsv: cannot write the table' "$src/examples/quartz.cif" --wave 1.54 \
    --table /nonexistent/t.tsv
if [ -w /dev/full ]; then
    status=0
    "$peakhkl" "$src/examples/quartz.cif" --wave 1.54 > /dev/full 2> "$work/err" || status=$?
    [ "$status" = 1 ] && grep -q 'cannot write the deck' "$work/err" || fail "a deck to /dev/full: status $status"
fi
echo "pipeline and process checks passed"
