# Computes the two-phase example pattern mix.xye: rock salt and sylvite,
# from the sticks that peakpos gives for mix-nacl.deck and mix-kcl.deck,
# with pseudo-Voigt peaks on a sloping background and seeded counting noise.
#
#   tclsh examples/make-mix.tcl PEAKPOS > examples/mix.xye

lassign $argv peakpos
if {[llength $argv] != 1} {
    puts stderr "usage: tclsh make-mix.tcl PEAKPOS > mix.xye"
    exit 2
}
set here [file dirname [file normalize [info script]]]
lappend auto_path [file join [file dirname $here] tools lib]
package require peakview::phases

# Relative intensities, in the order of each deck's allowed reflections,
# and each phase's share of the mixture.
set phases {
    mix-nacl.deck 0.6 {13 100 55 2 15 6 1 11 7}
    mix-kcl.deck  0.4 {1 100 59 1 18 8 20 11}
}
set peaks {}
foreach {deck share intensities} $phases {
    set script [exec $peakpos < [file join $here $deck]]
    set phase [peakview::phases::evaluate $script $deck]
    foreach x [dict get $phase allowed x] i $intensities {
        lappend peaks $x [expr {40.0 * $share * $i}]
    }
}

# A pseudo-Voigt of area 1 (half Lorentzian, half Gaussian) of full width
# at half maximum W.
proc pv {dx w} {
    set pi [expr {acos(-1)}]
    set g [expr {2.0 * sqrt(log(2.0) / $pi) / $w * exp(-4.0 * log(2.0) * $dx * $dx / ($w * $w))}]
    set l [expr {2.0 / ($pi * $w) / (1.0 + 4.0 * $dx * $dx / ($w * $w))}]
    return [expr {0.5 * $g + 0.5 * $l}]
}

expr {srand(20261210)}
# A normal deviate (Box and Muller) from Tcl's seeded generator.
proc gauss {} {
    return [expr {sqrt(-2.0 * log(1.0 - rand())) * cos(2.0 * acos(-1) * rand())}]
}

puts "# 2theta intensity sigma: rock salt and sylvite, computed by make-mix.tcl"
for {set k 0} {$k <= 3500} {incr k} {
    set x [expr {10.0 + 0.02 * $k}]
    set y [expr {60.0 + 400.0 / $x}]
    set w [expr {0.08 + 0.0015 * $x}]
    foreach {p a} $peaks {
        if {abs($x - $p) < 40 * $w} { set y [expr {$y + $a * [pv [expr {$x - $p}] $w]}] }
    }
    set counts [expr {max(0, round($y + sqrt($y) * [gauss]))}]
    puts [format "%.2f %d %.1f" $x $counts [expr {sqrt(max($counts, 1))}]]
}
