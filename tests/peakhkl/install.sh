#!/usr/bin/env bash
# Installs the build tree into a temporary prefix: peakhkl runs from there
# on the example CIF, and its man page renders without warnings.
#
#   install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
[ -x "$prefix/bin/peakhkl" ] || fail "bin/peakhkl was not installed as an executable"
[ -f "$prefix/share/man/man1/peakhkl.1" ] || fail "share/man/man1/peakhkl.1 was not installed"
(cd / && env -i PATH="$prefix/bin" peakhkl "$src/examples/quartz.cif" --wave CuKa1) > "$prefix/deck"
out=$(head -1 "$prefix/deck")
[ "$out" = "quartz P 32 2 1" ] || fail "installed peakhkl gave the name line: $out"
text=$(MANPATH="$prefix/share/man" MANWIDTH=80 LC_ALL=C.UTF-8 MANROFFSEQ='' \
       man --warnings -E UTF-8 peakhkl 2>&1 >/dev/null) || fail "man peakhkl failed: $text"
[ -z "$text" ] || fail "man peakhkl warns: $text"
MANPATH="$prefix/share/man" MANWIDTH=80 man peakhkl 2>/dev/null | grep -q 'EXIT STATUS' ||
    fail "man peakhkl has no EXIT STATUS section"
echo "installed peakhkl and its man page"
