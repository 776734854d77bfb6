# The readout: which sticks lie near a 2θ, and what the phase records know
# of them. The window calls these with the pointer's position; the tests
# call them without a window.
#
#   peakview::readout::prepare PHASES                the sticks sorted by 2θ, for near
#   peakview::readout::near PHASES X TOLERANCE ?PREPARED?   the sticks within TOLERANCE of X
#   peakview::readout::describe STICK               one line of text for a stick
#   peakview::readout::pointer X Y ?WAVELENGTH?     the pointer's own line
#   peakview::readout::measured XS YS X ?GAP?       the measured count at X
#   peakview::readout::line POINTER STICKS ?MOST?   the status line: pointer, nearest sticks

namespace eval ::peakview::readout {
    # The sticks a status line names before "and N more".
    variable most 5
}

# Returns, for each phase of PHASES, a dict {xs LIST refs LIST}: the x of
# its sticks, allowed and forbidden, in ascending order, and for each the
# pair {kind k} (k its position among the phase's sticks of that kind:
# allowed, extinct, or kalpha2 where the phase has its Kα2 companions).
proc ::peakview::readout::prepare {phases} {
    set prepared {}
    foreach phase $phases {
        set all {}
        foreach kind {allowed extinct kalpha2} {
            if {![dict exists $phase $kind]} continue
            set k -1
            foreach sx [dict get $phase $kind x] {
                lappend all [list $sx $kind [incr k]]
            }
        }
        set all [lsort -real -index 0 $all]
        lappend prepared [dict create xs [lmap s $all { lindex $s 0 }] \
                              refs [lmap s $all { lrange $s 1 2 }]]
    }
    return $prepared
}

# Returns the sticks of PHASES whose x lies within TOLERANCE (in degrees)
# of X, nearest first: one dict per stick with phase (the name word),
# colour, kind (allowed, extinct or kalpha2), x (where it is drawn), index (its
# position in the phase's lists, "" when unmatched), tt and d (the lists'
# own text, "" when unmatched), hkl, multiplicity and intensity (from a
# phase whose indices are known, else ""; a Kα2 companion's its own) and
# distance. Reflections at one 2θ are each listed, though drawn as one
# stick; the allowed ones and their Kα2 companions before the forbidden. PREPARED is what prepare
# returns for PHASES (made here when not given): a binary search finds the
# sticks, so that the cost does not grow with their number.
proc ::peakview::readout::near {phases x tolerance {prepared ""}} {
    if {$prepared eq ""} { set prepared [prepare $phases] }
    set found {}
    foreach phase $phases sorted $prepared {
        set xs [dict get $sorted xs]
        set n [llength $xs]
        if {$n == 0} continue
        # The first stick at or above X minus the tolerance.
        set first [lsearch -sorted -real -bisect $xs [expr {$x - $tolerance}]]
        if {$first < 0 || [lindex $xs $first] < $x - $tolerance} { incr first }
        foreach key {hkl multiplicity intensity} {
            set known($key) [expr {[dict exists $phase $key] ? [dict get $phase $key] : {}}]
        }
        for {set s $first} {$s < $n && [lindex $xs $s] <= $x + $tolerance} {incr s} {
            lassign [lindex [dict get $sorted refs] $s] kind k
            set sx [lindex $xs $s]
            set index [lindex [dict get $phase $kind index] $k]
            set stick [dict create phase [dict get $phase name] colour [dict get $phase colour] \
                           kind $kind x $sx index $index distance [expr {abs($sx - $x)}]]
            foreach key {tt d} {
                dict set stick $key [expr {$index eq "" ? "" : [lindex [dict get $phase $key] $index]}]
            }
            foreach key {hkl multiplicity intensity} {
                dict set stick $key [expr {$index eq "" ? "" : [lindex $known($key) $index]}]
            }
            if {$kind eq "kalpha2"} {
                # The companion's own 2θ and intensity.
                dict set stick tt [format %.4f [expr {$sx - [::peakview::readout::zeroOf $phase]}]]
                dict set stick intensity [lindex [dict get $phase kalpha2 intensity] $k]
            }
            lappend found [list [expr {$kind eq "extinct"}] [dict get $stick distance] $stick]
        }
    }
    # The allowed reflections (and their Kα2 companions) first, nearest
    # first; then the forbidden ones.
    return [lmap s [lsort -integer -index 0 [lsort -real -index 1 $found]] { lindex $s 2 }]
}

# Returns one line on STICK (a dict from near): its phase, its h k l
# where known (with the multiplicity where peakhkl gave it), 2θ to 0.001°,
# d to 0.0001 Å and the intensity to 0.1 where known.
proc ::peakview::readout::describe {stick} {
    set name [dict get $stick phase]
    set text "[expr {$name eq "" ? "(unnamed)" : $name}]"
    switch -- [dict get $stick kind] {
        extinct { append text " (forbidden)" }
        kalpha2 { append text " Kα2" }
    }
    if {[dict get $stick index] eq ""} {
        return "$text: stick at 2θ [format %.3f [dict get $stick x]]°"
    }
    append text ": "
    if {[dict exists $stick hkl] && [dict get $stick hkl] ne ""} {
        append text [dict get $stick hkl]
        if {[dict get $stick multiplicity] ne ""} {
            append text " ×[dict get $stick multiplicity]"
        }
        append text ", "
    }
    append text "2θ [figure %.3f [dict get $stick tt]]°, d [figure %.4f [dict get $stick d]] Å"
    if {[dict exists $stick intensity] && [dict get $stick intensity] ne ""} {
        append text ", I [format %.1f [dict get $stick intensity]]"
    }
    return $text
}

# Returns the zero shift of PHASE's sticks (0 where none is known).
proc ::peakview::readout::zeroOf {phase} {
    if {![dict exists $phase zero] || [dict get $phase zero] eq ""} { return 0.0 }
    return [dict get $phase zero]
}

# Returns the measured count at the 2θ X of the pattern whose points are
# XS (ascending) and YS: the straight line between the two points either
# side of X, "" outside the pattern or in a gap wider than GAP degrees.
proc ::peakview::readout::measured {xs ys x {gap Inf}} {
    set n [llength $xs]
    if {$n == 0} { return "" }
    set i [lsearch -sorted -real -bisect $xs $x]
    if {$i < 0 || $i >= $n} { return "" }
    set x0 [lindex $xs $i]
    set y0 [lindex $ys $i]
    if {$x0 == $x} { return $y0 }
    if {$i + 1 >= $n} { return "" }
    set x1 [lindex $xs $i+1]
    if {$x1 - $x0 > $gap || $x1 <= $x0} { return "" }
    return [expr {$y0 + ([lindex $ys $i+1] - $y0) * ($x - $x0) / ($x1 - $x0)}]
}

# Returns the number TEXT (as a plot script writes it) in FORMAT, or TEXT
# as it stands where it is no number Tcl formats (NaN, Inf).
proc ::peakview::readout::figure {format text} {
    if {[catch {format $format [string trim $text]} result]} { return [string trim $text] }
    return $result
}

# Returns the readout of the pointer at X (2θ): 2θ to 0.001°, with d for
# the WAVELENGTH (Å, "" for none), the intensity Y where it is given (the
# measured count there) and the values of MORE, pairs {LABEL VALUE} (the
# fit's curves, a second pattern; a value "" is left out).
proc ::peakview::readout::pointer {x {y ""} {wavelength ""} {more {}}} {
    set text [format "2θ %.3f°" $x]
    if {$wavelength ne "" && $x > 0 && $x < 180} {
        append text [format "  d %.4f Å" [expr {$wavelength / (2.0 * sin($x * acos(-1) / 360.0))}]]
    }
    if {$y ne ""} {
        append text [format "  intensity %.1f" $y]
    }
    foreach {label value} $more {
        if {$value ne ""} { append text [format "  %s %.1f" $label $value] }
    }
    return $text
}

# Returns the status line: the POINTER's line, then the nearest MOST of
# STICKS (dicts from near, nearest first) and how many more there are.
proc ::peakview::readout::line {pointer sticks {most ""}} {
    if {$most eq ""} { set most $::peakview::readout::most }
    if {[llength $sticks] == 0} { return $pointer }
    set text "$pointer    [join [lmap s [lrange $sticks 0 [expr {$most - 1}]] { describe $s }] "; "]"
    if {[llength $sticks] > $most} {
        append text "; and [expr {[llength $sticks] - $most}] more"
    }
    return $text
}
