#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and runs what was
# installed from there: peakpos on the example deck, the man pages through
# man with warnings on, and peakview (rendering a PNG when xvfb-run is given).
#
#   install.sh BUILD_DIR SOURCE_DIR [XVFB_RUN]
set -euo pipefail
build=$1 src=$2 xvfb=${3:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/peakpos bin/peakview; do
    [ -x "$prefix/$f" ] || fail "$f was not installed as an executable"
done
for f in share/man/man1/peakpos.1 share/man/man1/peakview.1 share/peakpos/tcl/peakview/pkgIndex.tcl; do
    [ -f "$prefix/$f" ] || fail "$f was not installed"
done

# The installed binary, run from the prefix with nothing else on the path.
out=$(cd / && env -i PATH="$prefix/bin" peakpos < "$src/examples/nacl.deck"; echo "status $?")
[ "$out" = "$(cat "$src/tests/data/nacl_example.out"; echo "status 0")" ] ||
    fail "installed peakpos gave for the example deck: $out"

# The man pages render, with no formatting warnings, by the name man finds.
for page in peakpos peakview; do
    text=$(MANPATH="$prefix/share/man" MANWIDTH=80 LC_ALL=C.UTF-8 MANROFFSEQ='' \
           man --warnings -E UTF-8 "$page" 2>&1 >/dev/null) || fail "man $page failed: $text"
    [ -z "$text" ] || fail "man $page warns: $text"
    MANPATH="$prefix/share/man" MANWIDTH=80 man "$page" 2>/dev/null | grep -q 'EXIT STATUS' ||
        fail "man $page has no EXIT STATUS section"
done

help=$("$prefix/bin/peakview" --help) && [[ $help == "usage: peakview"* ]] || fail "installed peakview --help"
if [ -n "$xvfb" ]; then
    "$prefix/bin/peakpos" < "$src/examples/nacl.deck" |
        "$xvfb" -a "$prefix/bin/peakview" --png "$prefix/nacl.png"
    [ "$(head -c 8 "$prefix/nacl.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
        fail "installed peakview wrote no PNG"
    # A deck as a phase: the installed peakview runs the peakpos beside it.
    (cd / && env -i PATH=/usr/bin:/bin "$xvfb" -a "$prefix/bin/peakview" --labels \
        --png "$prefix/deck.png" "$src/examples/nacl.deck") ||
        fail "installed peakview did not draw a deck with the peakpos beside it"
fi
echo "installed into a temporary prefix: peakpos, peakview and their man pages work from there"
