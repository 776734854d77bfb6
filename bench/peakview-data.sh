#!/usr/bin/env bash
# Times peakview reading a measured pattern of POINTS points (default a
# million) of plain columns through its compiled pattern reader (the
# pattern library's Tcl binding, from the build in build/), and its
# refusal of a file past the limit of points, of one number a million
# digits long and of 128 MiB of blank lines. Prints seconds and the peak
# memory of each.
#
#   bash bench/peakview-data.sh [POINTS]
set -euo pipefail
cd "$(dirname "$0")/.."
points=${1:-1000000}
[ -d build ] || cmake -S . -B build >/dev/null
cmake --build build --target peakview_reader >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat > "$dir/read.tcl" <<'TCL'
lassign $argv lib file
set auto_path [linsert $auto_path 0 $lib]
package require peakview::data
set start [clock microseconds]
if {[catch {peakview::data::read $file} p]} {
    set what "refused: $p"
} else {
    set what "[llength [dict get $p x]] points"
}
puts [format "%.3f s to read, %s" [expr {([clock microseconds] - $start) / 1e6}] $what]
TCL
awk -v n="$points" 'BEGIN { for (k = 0; k < n; k++) printf "%.4f %.1f\n", 5 + 0.0001 * k, 100 + k % 97 }' > "$dir/big.xy"
awk 'BEGIN { for (k = 1; k <= 2000001; k++) print k, "1.0" }' > "$dir/many.xy"
{ echo "10 1"; head -c 1000000 /dev/zero | tr '\0' 7; echo " 5"; } > "$dir/long.xy"
head -c $((128 << 20)) /dev/zero | tr '\0' '\n' > "$dir/blank.xy"
run() {
    /usr/bin/time -f "    %e s in all, %M KiB at most" tclsh "$dir/read.tcl" build/lib "$1" 2>&1 | sed 's/^/    /'
}
echo "$points points ($(du -h "$dir/big.xy" | cut -f1)):"; run "$dir/big.xy"
echo "2000001 points (past the limit):"; run "$dir/many.xy"
echo "a number of a million digits:"; run "$dir/long.xy"
echo "128 MiB of blank lines:"; run "$dir/blank.xy"
