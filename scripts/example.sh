#!/usr/bin/env bash
# Runs the examples with the tools built in BUILD_DIR (default build): the
# rock-salt deck through peakpos, then the quartz CIF through peakhkl and
# peakpos.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
"$build/peakpos" < examples/nacl.deck
"$build/peakhkl" examples/quartz.cif --wave CuKa1 --tt-max 60 | "$build/peakpos"
