#!/usr/bin/env bash
# Draws docs/intensities.png: rock salt and sylvite from their CIFs, each
# stick as strong as peakhkl computes the reflection, with its Kα2
# companion, over the measured example pattern.
#
#   bash examples/make-intensities.sh [BUILD]
#
# BUILD (default build) holds peakpos and peakhkl; PEAKHKL in the
# environment names another peakhkl.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
peakhkl=${PEAKHKL:-$build/peakhkl}
xvfb-run -a -s '-screen 0 1280x800x24' tools/peakview --peakpos "$build/peakpos" --peakhkl "$peakhkl" \
    --data examples/mix.xye --wave CuKa1 --kalpha2 --labels --no-extinct --size 1000x600 \
    --png docs/intensities.png examples/nacl.cif examples/kcl.cif
