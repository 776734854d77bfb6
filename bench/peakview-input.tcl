# Writes the big input of the viewer's timing into DIR: five decks of 5000
# reflections (a quarter flagged extinct) and a 100,000-point pattern.
#
#   tclsh bench/peakview-input.tcl DIR

lassign $argv dir
if {[llength $argv] != 1} {
    puts stderr "usage: tclsh peakview-input.tcl DIR"
    exit 2
}
file mkdir $dir
expr {srand(5)}
for {set p 1} {$p <= 5} {incr p} {
    set a [expr {18.0 + $p}]
    set hs {}
    set ks {}
    set ls {}
    set flags {}
    for {set i 0} {$i < 5000} {incr i} {
        lappend hs [expr {int(rand() * 11)}]
        lappend ks [expr {int(rand() * 11)}]
        lappend ls [expr {1 + int(rand() * 10)}]
        lappend flags [expr {$i % 4 == 3}]
    }
    set f [open [file join $dir phase$p.deck] w]
    puts $f "phase$p"
    puts $f "$a [expr {$a + 1.5}] [expr {$a + 3}] 88 95 101 1.5406"
    puts $f "0 100 0.01"
    puts $f 5000
    foreach row [list $hs $ks $ls $flags] { puts $f $row }
    close $f
}
set f [open [file join $dir big.xy] w]
for {set k 0} {$k < 100000} {incr k} {
    set x [expr {5.0 + 0.0014 * $k}]
    puts $f [format "%.4f %.1f" $x [expr {100.0 + 50.0 * sin($x) ** 2 + 10.0 * rand()}]]
}
close $f
