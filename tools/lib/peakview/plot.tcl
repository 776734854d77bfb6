# The plot: the measured pattern as a line, each phase's sticks, the
# legend, the axes, and the pictures written from it. Needs Tk and BLT.
#
#   peakview::plot::layout PHASES PATTERN OPTIONS   the elements to draw (no Tk needed)
#   peakview::plot::draw WIDGET LAYOUT W H ?SCALE?  a BLT graph of the layout
#   peakview::plot::writePng GRAPH FILE W H, writePs GRAPH FILE W H
#   peakview::plot::secondAxis GRAPH KIND WAVELENGTH   d or Q along the top
#   peakview::plot::showData GRAPH LAYOUT WLO WHI   the y range, the tick rows under it

package require peakview::phases
package require peakview::strength

package require peakview::guard

namespace eval ::peakview::plot {
    # Near black, and apart from the black of the axes and text.
    variable dataColour #202020
    # A tick row's height and the gap below it, as parts of the data's range.
    variable rowHeight 0.08
    variable rowGap 0.03
    # With h k l labels: the band above each tick row where its labels
    # stand, and the room above the sticks drawn alone, as parts of the
    # data's or the sticks' range.
    variable labelBand 0.12
    # The least room in pixels a label band leaves (three-index labels).
    variable labelPixels 42
    variable labelRoom 0.2
    # Where stick heights are intensities (strongest 100), a forbidden
    # reflection's mark is this high.
    variable forbiddenMark 8.0
    # The data's σ are drawn as error bars where the points in view stand
    # this many pixels apart on average, or more.
    variable errorPixels 4
    # The data elements of each graph whose σ can be drawn: {NAME XS}.
    variable withSigma
}

# Returns the lowest and highest of the finite numbers in LIST ({} when none).
proc ::peakview::plot::bounds {list} {
    foreach other {NaN Inf -Inf} {
        set list [lsearch -all -inline -not -exact $list $other]
    }
    if {[llength $list] == 0} { return {} }
    set sorted [lsort -real $list]
    return [list [lindex $sorted 0] [lindex $sorted end]]
}

# Returns the x and y lists that draw one vertical stick per x from the
# matching value in LO to the one in HI, in ascending x: with the line's
# trace drawn only where x does not increase, nothing joins two sticks.
proc ::peakview::plot::stickPoints {xs los his} {
    set px {}
    set py {}
    foreach k [lsort -real -indices $xs] {
        set x [lindex $xs $k]
        set lo [lindex $los $k]
        set hi [lindex $his $k]
        # A stick without a finite height is not drawn.
        if {![::peakview::phases::finite $lo] || ![::peakview::phases::finite $hi]} continue
        lappend px $x $x
        lappend py $lo $hi
    }
    return [list $px $py]
}

# Returns the legend label of PHASE's allowed sticks: name, counts,
# wavelength and zero shift.
proc ::peakview::plot::phaseLabel {phase showExtinct} {
    set name [dict get $phase name]
    set text [expr {$name eq "" ? "(unnamed)" : $name}]
    set na [dict get $phase nallowed]
    set ne [dict get $phase nextinct]
    if {$na + $ne == 0} { return "$text: no reflection reaches the pattern" }
    append text ": $na allowed"
    if {!$showExtinct && $ne > 0} { append text ", $ne forbidden (hidden)" }
    if {[dict exists $phase nweak] && [dict get $phase nweak] > 0} {
        append text ", [dict get $phase nweak] weak (hidden)"
    }
    set notes {}
    if {[dict get $phase wavelength] ne ""} {
        set note [format "λ %.5g Å" [dict get $phase wavelength]]
        if {[dict exists $phase wavesource]} { append note " from " [dict get $phase wavesource] }
        lappend notes $note
    }
    if {[dict get $phase zero] ne ""} {
        lappend notes [format "zero %.3g°" [dict get $phase zero]]
    }
    if {[llength $notes] > 0} { append text " ([join $notes {, }])" }
    return $text
}

# Returns Y on the data's intensity axis under SCALE: linear (as it is),
# sqrt (the square root of its positive part) or log (log10 of it, 0.1
# and above).
proc ::peakview::plot::scaled {scale y} {
    switch -- $scale {
        sqrt { return [expr {sqrt(max($y, 0.0))}] }
        log { return [expr {log10(max($y, 0.1))}] }
    }
    return $y
}

# Returns the count that the value V of the data's axis under SCALE stands
# for (the inverse of scaled).
proc ::peakview::plot::unscaled {scale v} {
    switch -- $scale {
        sqrt { return [expr {$v * $v}] }
        log { return [expr {10.0 ** $v}] }
    }
    return $v
}

# Returns where the tick rows stand under the data shown from WLO to WHI
# on the y axis: a dict {min Y rows LIST}, min the foot of the y axis and
# rows one {top bottom ceiling} per row of the N phases (ceiling: the
# foot of the row above, which its labels stay below). The rows take
# their heights from the data shown, so that a zoom keeps them in view.
proc ::peakview::plot::rowGeometry {wlo whi n band} {
    variable rowHeight
    variable rowGap
    # The data window is the data's range and 5 % above it.
    set span [expr {($whi - $wlo) / 1.05}]
    set h [expr {$rowHeight * $span}]
    set gap [expr {$rowGap * $span}]
    set band [expr {$band * $span}]
    set rows {}
    for {set k 0} {$k < $n} {incr k} {
        set top [expr {$wlo - $gap - $band - $k * ($h + $gap + $band)}]
        lappend rows [list $top [expr {$top - $h}] [expr {$top + $band + $gap}]]
    }
    return [dict create min [expr {$wlo - $gap - $n * ($h + $gap + $band)}] rows $rows]
}

# Returns the height of the label band above each of N tick rows, as a
# part of the data's range, in a picture HEIGHT pixels high: labelBand, or
# more where that leaves less than labelPixels for a label (many rows in a
# low picture).
proc ::peakview::plot::bandFor {n height} {
    variable labelBand
    variable labelPixels
    variable rowHeight
    variable rowGap
    # The plot area is the picture without its title, axis and margins.
    set plot [expr {$height - 110.0}]
    if {$plot - $n * $labelPixels <= $labelPixels} { return $labelBand }
    # band px = band / (1.05 + n (rowHeight + rowGap + band)) x plot
    set band [expr {$labelPixels * (1.05 + $n * ($rowHeight + $rowGap)) / ($plot - $n * $labelPixels)}]
    return [expr {max($labelBand, min($band, 0.5))}]
}

# Returns the y list of the tick-row element E (see layout) in the rows
# of GEOMETRY (from rowGeometry): each stick from its row's foot to its
# top, or over the lower or the upper half of the row.
proc ::peakview::plot::rowYs {e geometry} {
    lassign [lindex [dict get $geometry rows] [dict get $e row]] top bottom
    set middle [expr {($top + $bottom) / 2.0}]
    switch -- [dict get $e part] {
        lower { set top $middle }
        upper { set bottom $middle }
    }
    return [lrepeat [expr {[llength [dict get $e x]] / 2}] $bottom $top]
}

# Returns what to draw for PHASES over PATTERN (a pattern dict, or {} for
# none) under OPTIONS (a dict: extinct, sticks, size, and where given
# labels (the sticks get h k l labels), intensity (0: the sticks' heights
# are not their intensities), scale (of the data's axis: linear, sqrt or
# log) and kalpha2 (one λ(Kα2) per phase, "" for none)): a dict with
# title, xrange, yrange, y2range ({} unless used), window (the data's
# part of yrange, {} without tick rows), rows (their geometry, see
# rowGeometry) and elements, a list of dicts (name, x, y, colour, dashes,
# width, label, axis, trace, sigma, hide; for a tick row row, part (full,
# lower or upper) and ceiling: the y its labels stay below; for sticks
# whose height can be their intensity or not, plain: the y list without
# it; for the intensity pattern under the data, pattern 1).
#
# A phase with intensities: drawn alone or with --sticks, each stick is as
# high as its intensity; in tick rows under the data, the phase also gets
# its stick pattern, its strongest stick as high as the data's highest
# point above the lowest; a forbidden stick is a short mark. A Kα2
# companion is half as high, in the lighter tint; in a tick row it takes
# the upper half of the row (a forbidden tick, the lower half).
proc ::peakview::plot::layout {phases pattern options} {
    variable dataColour
    variable labelRoom
    variable forbiddenMark
    set showExtinct [dict get $options extinct]
    set labelled [expr {[dict exists $options labels] && [dict get $options labels] ne ""}]
    set strong [expr {![dict exists $options intensity] || [dict get $options intensity]}]
    set scale [expr {[dict exists $options scale] ? [dict get $options scale] : "linear"}]
    set seconds [expr {[dict exists $options kalpha2] ? [dict get $options kalpha2] : {}}]
    set elements {}
    set xs {}
    set hasData [expr {[dict size $pattern] > 0}]
    if {$hasData} {
        set n [llength [dict get $pattern x]]
        # One line per segment (each range, cut at its gaps): nothing joins
        # two ranges or bridges a gap. The σ go with each (a linear axis
        # only), drawn as error bars where few enough points are in view
        # (errorBars).
        set segments [expr {[dict exists $pattern segments] ? [dict get $pattern segments]
                            : [list [dict create x [dict get $pattern x] y [dict get $pattern y] \
                                         sigma [dict get $pattern sigma]]]}]
        set label "[file tail [dict get $pattern source]] ($n points"
        if {[dict exists $pattern ranges] && [dict get $pattern ranges] > 1} {
            append label ", [dict get $pattern ranges] ranges"
        }
        append label ")"
        set k 0
        foreach segment $segments {
            set ys [dict get $segment y]
            if {$scale ne "linear"} { set ys [lmap y $ys { scaled $scale $y }] }
            lappend elements [dict create name [expr {$k == 0 ? "data" : "data$k"}] \
                x [dict get $segment x] y $ys sigma [expr {$scale eq "linear" ? [dict get $segment sigma] : {}}] \
                colour $dataColour dashes {} width 1 hide 0 label [expr {$k == 0 ? $label : ""}] axis y trace both]
            incr k
        }
        lappend xs {*}[bounds [dict get $pattern x]]
        lassign [bounds [dict get $pattern y]] rawlo rawhi
        set dlo [scaled $scale $rawlo]
        set dhi [scaled $scale $rawhi]
    }
    set rows [expr {$hasData && ![dict get $options sticks]}]
    set result [dict create window {} rows {} band 0.0]
    if {$rows} {
        set span [expr {$dhi > $dlo ? $dhi - $dlo : max(abs($dhi), 1.0)}]
        set window [list $dlo [expr {$dlo + 1.05 * $span}]]
        set high [expr {[dict exists $options size] ? [lindex [dict get $options size] 1] : 600}]
        set band [expr {$labelled ? [bandFor [llength $phases] $high] : 0.0}]
        set geometry [rowGeometry {*}$window [llength $phases] $band]
        dict set result band $band
        dict set result window $window
        dict set result rows $geometry
    }
    set ys {}
    set k 0
    foreach phase $phases lambda2 [lrange $seconds 0 [expr {[llength $phases] - 1}]] {
        set colour [dict get $phase colour]
        set light [::peakview::phases::lighter $colour]
        set known [::peakview::strength::known $phase]
        set kinds {allowed}
        if {$showExtinct} { lappend kinds extinct }
        if {$lambda2 ne ""} { lappend kinds kalpha2 }
        foreach kind $kinds {
            if {$kind eq "kalpha2"} {
                set sticks [::peakview::strength::companions $phase $lambda2]
                set heights [dict get $sticks intensity]
                set sx [dict get $sticks x]
                # Half the height of the stick each goes with.
                set firsts [dict get $phase allowed]
                set byIndex [dict create]
                foreach i [dict get $firsts index] lo [dict get $firsts ylo] hi [dict get $firsts yhi] {
                    dict set byIndex $i [list $lo $hi]
                }
                set plainLo {}
                set plainHi {}
                foreach i [dict get $sticks index] {
                    lassign [dict get $byIndex $i] lo hi
                    lappend plainLo $lo
                    lappend plainHi [expr {$lo + ($hi - $lo) / 2.0}]
                }
            } else {
                set sticks [dict get $phase $kind]
                set sx [dict get $sticks x]
                set heights [::peakview::strength::of $phase $kind]
                set plainLo [dict get $sticks ylo]
                set plainHi [dict get $sticks yhi]
            }
            lappend xs {*}[bounds $sx]
            set n [llength $sx]
            set e [dict create name $kind$k sigma {} hide 0 trace decreasing width 2 \
                       colour [expr {$kind eq "allowed" ? $colour : $light}] dashes {}]
            if {$rows} {
                lassign [stickPoints $sx [lrepeat $n 0] [lrepeat $n 1]] px
                dict set e x $px
                dict set e row $k
                dict set e part [dict get {allowed full extinct lower kalpha2 upper} $kind]
                dict set e ceiling [lindex [dict get $geometry rows] $k 2]
                dict set e y [rowYs $e $geometry]
                dict set e axis y
            } else {
                lassign [stickPoints $sx $plainLo $plainHi] px plain
                set py $plain
                if {$known} {
                    # From 0 to the intensity; a reflection without one
                    # keeps the script's stick. A forbidden one has none:
                    # a short mark says where it would be.
                    if {$kind eq "extinct"} { set heights [lrepeat $n $forbiddenMark] }
                    set lo [lmap h $heights l $plainLo { expr {$h eq "" ? $l : 0.0} }]
                    set hi [lmap h $heights l $plainHi { expr {$h eq "" ? $l : $h} }]
                    lassign [stickPoints $sx $lo $hi] - py
                    dict set e plain $plain
                    if {!$strong} { set py $plain }
                }
                lappend ys {*}[bounds $py]
                dict set e x $px
                dict set e y $py
                dict set e axis [expr {$hasData ? "y2" : "y"}]
                if {$kind eq "extinct"} { dict set e dashes {4 3} }
            }
            dict set e label [switch -- $kind {
                allowed { phaseLabel $phase $showExtinct }
                extinct { expr {[dict get $phase nextinct] == 0 ? ""
                                : "[dict get $phase name]: [dict get $phase nextinct] forbidden"} }
                kalpha2 { format "%s: Kα2 (λ %.5g Å)" [dict get $phase name] $lambda2 }
            }]
            lappend elements $e
            # The stick pattern under the data, from the data's foot.
            if {$rows && $known && $kind ne "extinct"} {
                # (A companion's height is half its reflection's already.)
                set strongest [lindex [lsort -real [lsearch -all -inline -exact -not \
                                                        [::peakview::strength::of $phase allowed] ""]] end]
                set top {}
                set keep {}
                foreach x $sx h $heights {
                    if {$h eq "" || $strongest eq "" || $strongest <= 0} continue
                    lappend keep $x
                    lappend top [scaled $scale [expr {$rawlo + $h / double($strongest) * ($rawhi - $rawlo)}]]
                }
                lassign [stickPoints $keep [lrepeat [llength $keep] $dlo] $top] px py
                lappend elements [dict create name pattern$kind$k x $px y $py sigma {} \
                    colour [expr {$kind eq "allowed" ? $colour : $light}] dashes {} width 1 \
                    label "" axis y trace decreasing hide [expr {!$strong}] pattern 1]
            }
        }
        incr k
    }

    dict set result elements $elements
    dict set result xrange {}
    dict set result yrange {}
    dict set result y2range {}
    set names [lmap p $phases { dict get $p name }]
    set title [join [lmap n $names { expr {$n eq "" ? "(unnamed)" : $n} }] ", "]
    if {[llength $phases] == 1 && [dict get [lindex $phases 0] nallowed] + [dict get [lindex $phases 0] nextinct] == 0} {
        append title ": no reflection reaches the pattern"
    }
    dict set result title $title
    if {[llength $xs] > 0} {
        lassign [bounds $xs] lo hi
        set pad [expr {max(0.02 * ($hi - $lo), 0.5)}]
        dict set result xrange [list [expr {$lo - $pad}] [expr {$hi + $pad}]]
    }
    # Room above the sticks drawn alone for their labels.
    set room [expr {$labelled && !$rows ? 0.05 + $labelRoom : 0.05}]
    if {$rows} {
        dict set result yrange [list [dict get $geometry min] [lindex $window 1]]
    } else {
        set range [expr {$hasData ? [list $dlo $dhi] : [bounds $ys]}]
        if {[llength $range] == 2} {
            lassign $range lo hi
            set span [expr {$hi - $lo}]
            if {$span > 0} {
                set top [expr {$hasData ? 0.05 : $room}]
                dict set result yrange [list $lo [expr {$hi + $top * $span}]]
            }
        }
    }
    if {$hasData && !$rows} {
        lassign [bounds $ys] lo hi
        if {$lo ne "" && $hi > $lo} { dict set result y2range [list $lo [expr {$hi + $room * ($hi - $lo)}]] }
    }
    return $result
}

# Returns the BLT graph WIDGET, created and filled with LAYOUT, WIDTH by
# HEIGHT pixels; SCALE is the data axis's (linear, sqrt or log).
proc ::peakview::plot::draw {widget layout width height {scale linear}} {
    variable withSigma
    unset -nocomplain withSigma($widget)
    set g [blt::graph $widget -width $width -height $height -plotbackground white \
               -plotpady {8 0} -title [dict get $layout title]]
    $g axis configure x -title "2\u03b8 (degrees)"
    $g axis configure y -title [dict get {linear intensity sqrt "intensity (square-root scale)"
        log "intensity (log scale)"} $scale]
    if {$scale ne "linear"} {
        # The ticks stand where the scaled values are round; their labels
        # give the counts.
        $g axis configure y -command [list ::peakview::plot::countLabel $scale]
    }
    $g legend configure -position right -anchor n -relief flat -borderwidth 0
    foreach {axis key} {x xrange y yrange y2 y2range} {
        set range [dict get $layout $key]
        if {[llength $range] == 2 && [lindex $range 1] - [lindex $range 0] < 1e300} {
            lassign [::peakview::guard::axis {*}$range] lo hi
            $g axis configure $axis -min $lo -max $hi
        }
    }
    if {[llength [dict get $layout y2range]] > 0} {
        set strong [llength [lmap e [dict get $layout elements] {
            if {[dict exists $e plain]} { set e } else continue
        }]]
        $g axis configure y2 -hide no -title [expr {$strong ? "stick height (intensity, strongest 100)" : "stick height"}]
    }
    set drawn {}
    set keys {}
    set under {}
    foreach e [dict get $layout elements] {
        set name [dict get $e name]
        set xv [blt::vector create ::peakview::plot::x_$name]
        set yv [blt::vector create ::peakview::plot::y_$name]
        $xv set [dict get $e x]
        $yv set [dict get $e y]
        set style [list -symbol none -linewidth [dict get $e width] -color [dict get $e colour] \
                       -dashes [dict get $e dashes]]
        $g element create $name -xdata $xv -ydata $yv {*}$style -label "" \
            -mapy [dict get $e axis] -trace [dict get $e trace] -hide [dict get $e hide]
        if {[llength [dict get $e sigma]] > 0} {
            set sv [blt::vector create ::peakview::plot::s_$name]
            $sv set [dict get $e sigma]
            $g element configure $name -yerror $sv -showerrorbars none -errorbarcolor #7f7f7f
            lappend ::peakview::plot::withSigma($g) [list $name [dict get $e x] [typicalStep [dict get $e x]]]
        }
        # The legend entry: an element without points in the same style,
        # so that the legend's order need not be the drawing order.
        if {[dict get $e label] ne ""} {
            $g element create key_$name {*}$style -label [dict get $e label]
            lappend keys key_$name
        }
        if {[dict exists $e pattern]} {
            lappend under $name
        } else {
            lappend drawn $name
        }
    }
    # The stick patterns first, under everything; then the sticks phase by
    # phase, each phase's forbidden sticks over its allowed ones, and the
    # measured data over them all. The legend lists the elements in the
    # reverse of the drawing order.
    set data [lsearch -all -inline -regexp $drawn {^data[0-9]*$}]
    $g element show [concat [lreverse $keys] [lsearch -all -inline -regexp -not $drawn {^data[0-9]*$}] \
                         $data [lreverse $under]]
    errorBars $g $width
    return $g
}

# Returns the median step between the first thousand points of XS.
proc ::peakview::plot::typicalStep {xs} {
    set steps {}
    foreach a [lrange $xs 0 999] b [lrange $xs 1 1000] {
        if {$b ne ""} { lappend steps [expr {$b - $a}] }
    }
    if {[llength $steps] == 0} { return 0.0 }
    return [lindex [lsort -real $steps] [expr {[llength $steps] / 2}]]
}

# Returns the number of the data's points in the 2θ range shown on G whose
# σ are drawn as error bars (0 where none is), after showing them where
# they are few enough: at most one per errorPixels pixels of the graph's
# WIDTH (default its width on the screen), and each scan's step as wide.
# Called again at every zoom.
proc ::peakview::plot::errorBars {g {width ""}} {
    variable withSigma
    variable errorPixels
    if {![info exists withSigma($g)]} { return 0 }
    if {$width eq ""} { set width [winfo width $g] }
    lassign [$g axis limits x] lo hi
    set n 0
    set apart 1
    foreach element $withSigma($g) {
        lassign $element name xs step
        # The points from lo to hi, by bisection in the ascending 2θ.
        set k [expr {[lsearch -sorted -real -bisect $xs $hi] - [lsearch -sorted -real -bisect $xs $lo]}]
        incr n $k
        if {$k > 0 && $step * $width < $errorPixels * ($hi - $lo)} { set apart 0 }
    }
    set shown [expr {$n > 0 && $apart && $n * $errorPixels <= $width}]
    foreach element $withSigma($g) {
        $g element configure [lindex $element 0] -showerrorbars [expr {$shown ? "y" : "none"}]
    }
    return [expr {$shown ? $n : 0}]
}

# Returns the label of the tick at the value V of the data's axis under
# SCALE: the count it stands for (BLT calls this with the graph first).
proc ::peakview::plot::countLabel {scale g v} {
    set count [unscaled $scale $v]
    # Whole counts as such up to a million (10000, not 1e+04).
    return [format [expr {abs($count) >= 10 && abs($count) < 1e6 ? "%.0f" : "%.3g"}] $count]
}

# Returns nothing; shows d (KIND d, in Å) or Q (KIND q, 4π sin θ / λ in
# Å⁻¹) for the WAVELENGTH on the axis x2 at the top of the graph G, its
# ticks where d or Q is round within the 2θ range shown. Called again
# whenever the 2θ range changes.
proc ::peakview::plot::secondAxis {g kind wavelength} {
    lassign [$g axis limits x] lo hi
    set ticks {}
    set n 8
    for {set i 0} {$i <= $n} {incr i} {
        set tt [expr {$lo + ($hi - $lo) * $i / double($n)}]
        if {$tt <= 0 || $tt >= 180} continue
        set v [toSecond $kind $wavelength $tt]
        # Two significant digits.
        set p [expr {10.0 ** (floor(log10($v)) - 1)}]
        set v [expr {round($v / $p) * $p}]
        set back [fromSecond $kind $wavelength $v]
        if {$back eq "" || $back < $lo || $back > $hi} continue
        lappend ticks $back
    }
    $g axis configure x2 -hide no -min $lo -max $hi -majorticks [lsort -real -unique $ticks] \
        -minorticks {} -command [list ::peakview::plot::secondLabel $kind $wavelength] \
        -title [dict get {d "d (\u00c5)" q "Q (\u00c5\u207b\u00b9)"} $kind]
}

# Returns d or Q (KIND) at the 2θ TT (degrees) for WAVELENGTH.
proc ::peakview::plot::toSecond {kind wavelength tt} {
    set s [expr {sin($tt * acos(-1) / 360.0)}]
    if {$kind eq "d"} { return [expr {$wavelength / (2.0 * $s)}] }
    return [expr {4.0 * acos(-1) * $s / $wavelength}]
}

# Returns the 2θ (degrees) of the d or Q (KIND) V for WAVELENGTH, or ""
# where there is none.
proc ::peakview::plot::fromSecond {kind wavelength v} {
    set s [expr {$kind eq "d" ? $wavelength / (2.0 * $v) : $v * $wavelength / (4.0 * acos(-1))}]
    if {$s <= 0 || $s >= 1} { return "" }
    return [expr {2.0 * asin($s) * 180.0 / acos(-1)}]
}

# Returns the label of the tick at the 2θ TT on the second axis.
proc ::peakview::plot::secondLabel {kind wavelength g tt} {
    return [format %.3g [toSecond $kind $wavelength $tt]]
}

# Returns nothing; places the tick rows of G's LAYOUT under the data
# shown from WLO to WHI (the y range above the rows), and sets the y axis
# to show them: the rows follow a zoom in y, and their label bands the
# graph's height. The rows' geometry is kept for the labels (rows).
proc ::peakview::plot::showData {g layout wlo whi} {
    variable rows
    set n [llength [dict get $layout rows rows]]
    set band [dict get $layout band]
    if {$band > 0 && [winfo height $g] > 1} { set band [bandFor $n [winfo height $g]] }
    set geometry [rowGeometry $wlo $whi $n $band]
    set rows($g) $geometry
    foreach e [dict get $layout elements] {
        if {![dict exists $e row]} continue
        ::peakview::plot::y_[dict get $e name] set [rowYs $e $geometry]
    }
    $g axis configure y -min [dict get $geometry min] -max $whi
}

# Writes GRAPH as a PNG image WIDTH by HEIGHT to FILE; returns nothing.
proc ::peakview::plot::writePng {g file width height} {
    set img [image create photo]
    $g snap -width $width -height $height $img
    if {[catch {$img write $file -format png} msg]} {
        return -code error -errorcode {PEAKVIEW OUTPUT} "cannot write $file: $msg"
    }
    image delete $img
}

# Writes GRAPH as PostScript, WIDTH by HEIGHT pixels on the page, to FILE;
# returns nothing.
proc ::peakview::plot::writePs {g file width height} {
    if {[catch {$g postscript output $file -width $width -height $height -maxpect no \
                    -decorations no -center yes} msg]} {
        return -code error -errorcode {PEAKVIEW OUTPUT} "cannot write $file: $msg"
    }
}
