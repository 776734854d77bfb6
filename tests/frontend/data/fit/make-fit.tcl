# Writes a stand-in for peakfit's output under --out mix (mix.json,
# mix.xye, mix-NaCl.deck, mix-KCl.deck, mix-NaCl.tsv, mix-KCl.tsv) in the
# documented format, for the viewer's tests: the observed counts are
# examples/mix.xye; the calculated curve is the model that made them
# (examples/make-mix.tcl) with rock salt's share 5 % low, so that the
# difference shows; the decks are the examples' own.
#
#   tclsh tests/frontend/data/fit/make-fit.tcl PEAKPOS

lassign $argv peakpos
set here [file dirname [file normalize [info script]]]
set root [file dirname [file dirname [file dirname [file dirname $here]]]]

proc pv {dx w} {
    set pi [expr {acos(-1)}]
    set g [expr {2.0 * sqrt(log(2.0) / $pi) / $w * exp(-4.0 * log(2.0) * $dx * $dx / ($w * $w))}]
    set l [expr {2.0 / ($pi * $w) / (1.0 + 4.0 * $dx * $dx / ($w * $w))}]
    return [expr {0.5 * $g + 0.5 * $l}]
}

# The multiplicity of h k l in m-3m: the distinct signed permutations.
proc multiplicity {h k l} {
    set seen [dict create]
    foreach p [list [list $h $k $l] [list $h $l $k] [list $k $h $l] [list $k $l $h] [list $l $h $k] [list $l $k $h]] {
        foreach sa {1 -1} {
            foreach sb {1 -1} {
                foreach sc {1 -1} {
                    lassign $p a b c
                    dict set seen [list [expr {$sa * $a}] [expr {$sb * $b}] [expr {$sc * $c}]] 1
                }
            }
        }
    }
    return [dict size $seen]
}

set phases {
    NaCl mix-nacl.deck 0.57 {13 100 55 2 15 6 1 11 7}
    KCl  mix-kcl.deck  0.4  {1 100 59 1 18 8 20 11}
}
set peaks {}
foreach {name deck share intensities} $phases {
    set path [file join $root examples $deck]
    file copy -force $path [file join $here mix-$name.deck]
    set check [exec $peakpos --check < $path]
    set f [open [file join $here mix-$name.tsv] w]
    puts $f "h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity"
    set n 0
    foreach line [lrange [split $check \n] 1 end] {
        lassign [split $line \t] i h k l d tt extinct
        set area 0.0
        if {!$extinct} {
            set area [expr {40.0 * $share * [lindex $intensities $n]}]
            lappend peaks $tt $area
            incr n
        }
        puts $f [format "%d\t%d\t%d\t%.6f\t%.4f\t%d\t%d\t-\t%.3f" $h $k $l $d $tt [multiplicity $h $k $l] $extinct $area]
    }
    close $f
}

set f [open [file join $root examples mix.xye]]
set lines [lrange [split [string trim [read $f]] \n] 1 end]
close $f
set out [open [file join $here mix.xye] w]
puts $out "# 2theta observed calculated background difference"
set sw 0.0
set swd 0.0
set points 0
foreach line $lines {
    lassign $line x obs
    set bg [expr {60.0 + 400.0 / $x}]
    set w [expr {0.08 + 0.0015 * $x}]
    set calc $bg
    foreach {p a} $peaks {
        if {abs($x - $p) < 40 * $w} { set calc [expr {$calc + $a * [pv [expr {$x - $p}] $w]}] }
    }
    set wt [expr {1.0 / max($obs, 1)}]
    set sw [expr {$sw + $wt * $obs * $obs}]
    set swd [expr {$swd + $wt * ($obs - $calc) ** 2}]
    puts $out [format "%.2f %d %.3f %.3f %.3f" $x $obs $calc $bg [expr {$obs - $calc}]]
    if {$points == 0} { set first $x }
    set last $x
    incr points
}
close $out
set rwp [expr {100.0 * sqrt($swd / $sw)}]
set f [open [file join $here mix.json] w]
puts $f [format {{"program": "peakfit", "version": "0.0-fixture", "mode": "rietveld", "converged": true,
 "reason": "stand-in written by make-fit.tcl",
 "data": {"path": "%s", "points": %d, "first": %s, "last": %s},
 "wavelengths": {"alpha1": 1.5406, "alpha2": null, "ratio": null},
 "R": {"Rp": null, "Rwp": %.3f, "Rexp": null, "GoF": null, "Rwp_background_subtracted": null},
 "zero_deg": {"value": 0.0, "esd": null}, "displacement_mm": {"value": 0.0, "esd": null}, "radius_mm": 240,
 "kalpha2_ratio": {"value": 0.0, "esd": null},
 "phases": [
  {"name": "NaCl", "mode": "rietveld", "a": {"value": 5.6402, "esd": 0.0001}, "deck": "mix-NaCl.deck", "cif": "mix-NaCl.cif", "table": "mix-NaCl.tsv",
   "weight_percent": {"value": 58.8, "esd": 0.4}},
  {"name": "KCl", "mode": "rietveld", "a": {"value": 6.2917, "esd": 0.0001}, "deck": "mix-KCl.deck", "cif": "mix-KCl.cif", "table": "mix-KCl.tsv",
   "weight_percent": {"value": 41.2, "esd": 0.4}}],
 "parameters": {}, "correlations": []}} \
    [file join $root examples mix.xye] $points $first $last $rwp]
close $f
