#!/usr/bin/env bash
# Times peakview drawing a 100,000-point pattern with five phases of 5000
# sticks each to a PNG (needs xvfb-run), after building peakpos in build/;
# then its window on that input: one pointer motion, a zoom by box, wheel
# and pan, each with the labels laid out again (bench/peakview-window.tcl).
#
#   bash bench/peakview.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
cmake -S . -B build >/dev/null
cmake --build build --target peakpos >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
echo "load average: $(cut -d" " -f1-3 /proc/loadavg)"
tclsh bench/peakview-input.tcl "$dir"
for p in 1 2 3 4 5; do build/peakpos < "$dir/phase$p.deck" > "$dir/phase$p.tcl"; done
for ((r = 1; r <= runs; r++)); do
    start=$(date +%s.%N)
    xvfb-run -a tools/peakview --data "$dir/big.xy" --png "$dir/big.png" "$dir"/phase?.tcl
    end=$(date +%s.%N)
    # xvfb-run's own start (the X server) is timed apart below.
    echo "run $r: $(echo "$end - $start" | bc) s (peakview under xvfb-run)"
done
start=$(date +%s.%N)
xvfb-run -a true
end=$(date +%s.%N)
echo "xvfb-run alone: $(echo "$end - $start" | bc) s"
echo "the window, plot scripts (no labels), 1000x600:"
xvfb-run -a -s '-screen 0 1280x1100x24' tclsh bench/peakview-window.tcl build/peakpos "$dir"
echo "the window, decks with --labels, 1000x600:"
xvfb-run -a -s '-screen 0 1280x1100x24' tclsh bench/peakview-window.tcl build/peakpos "$dir" --labels
echo "the window, decks with --labels, 1000x1000:"
xvfb-run -a -s '-screen 0 1280x1100x24' tclsh bench/peakview-window.tcl build/peakpos "$dir" --labels 1000x1000
