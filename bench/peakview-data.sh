#!/usr/bin/env bash
# Times peakview reading a measured pattern of POINTS points (default a
# million) of plain columns, with the compiled column reader (the build's
# library) and with the reader in Tcl alone (the source tree's), and the
# refusal of a file past the limit of points and of one number a million
# digits long. Prints seconds and the peak memory of each.
#
#   bash bench/peakview-data.sh [POINTS]
set -euo pipefail
cd "$(dirname "$0")/.."
points=${1:-1000000}
cmake -S . -B build >/dev/null
cmake --build build --target peakview_columns >/dev/null
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
awk 'BEGIN { for (k = 0; k < 2000001; k++) print "10.0 1.0" }' > "$dir/many.xy"
{ echo "10 1"; head -c 1000000 /dev/zero | tr '\0' 7; echo " 5"; } > "$dir/long.xy"
run() {
    /usr/bin/time -f "    %e s in all, %M KiB at most" tclsh "$dir/read.tcl" "$1" "$2" 2>&1 | sed 's/^/    /'
}
echo "$points points ($(du -h "$dir/big.xy" | cut -f1)), compiled reader:"; run build/lib "$dir/big.xy"
echo "$points points, reader in Tcl alone:"; run tools/lib "$dir/big.xy"
echo "2000001 points (past the limit), compiled reader:"; run build/lib "$dir/many.xy"
echo "a number of a million digits, compiled reader:"; run build/lib "$dir/long.xy"
echo "a number of a million digits, reader in Tcl alone:"; run tools/lib "$dir/long.xy"
