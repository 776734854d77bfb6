# The plot: the measured pattern as a line, each phase's sticks, the
# legend, the axes, and the pictures written from it. Needs Tk and BLT.
#
#   peakview::plot::layout PHASES PATTERN OPTIONS   the elements to draw (no Tk needed)
#   peakview::plot::draw WIDGET LAYOUT W H ?SCALE?  a BLT graph of the layout
#   peakview::plot::writePng GRAPH FILE W H, writePs GRAPH FILE W H
#   peakview::plot::secondAxis GRAPH KIND WAVELENGTH   d or Q along the top
#   peakview::plot::showData GRAPH LAYOUT WLO WHI   the y range, the tick rows under it
#   peakview::plot::clip GRAPH LAYOUT          the sticks cut at the edges of the view
#   peakview::plot::region GRAPH LAYOUT XRANGE YRANGE W   a picture of a region
#   peakview::plot::writePdf GRAPH FILE W H    the picture as PDF
#   peakview::plot::narrowLegend GRAPH WIDTH   the legend a fifth of the width at most
#   peakview::plot::legendText GRAPH X Y       the full text of the legend's entry at a pixel

package require peakview::phases
package require peakview::strength

package require peakview::guard

namespace eval ::peakview::plot {
    # Near black, and apart from the black of the axes and text.
    variable dataColour #202020
    # A fit's calculated curve, its background and its difference; more
    # patterns (--data again), each in its colour.
    variable fitColour #e00000
    variable backgroundColour #009e73
    variable differenceColour #0050c0
    variable otherColours {#a0522d #7b3294 #808000 #008080}
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
    if {[dict exists $phase weight] && [dict get $phase weight] ne ""} {
        set notes [linsert $notes 0 "[dict get $phase weight] wt%"]
    }
    if {[llength $notes] > 0} { append text " ([join $notes {, }])" }
    return $text
}

# Returns the intensity of the strongest allowed stick of PHASE, those
# at one 2θ summed ("" where none is known).
proc ::peakview::plot::strongest {phase} {
    set heights [lindex [::peakview::strength::summed [dict get $phase allowed x] \
                             [::peakview::strength::of $phase allowed]] 1]
    return [lindex [lsort -real [lsearch -all -inline -exact -not $heights ""]] end]
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
# With DIFFERENCE {LO HI} (a fit's difference, in counts) a band of that
# height follows under the rows, at the data's scale, its zero line at the
# key zero.
proc ::peakview::plot::rowGeometry {wlo whi n band {difference {}}} {
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
    set min [expr {$wlo - $gap - $n * ($h + $gap + $band)}]
    set result [dict create min $min rows $rows]
    if {[llength $difference] == 2} {
        # The fit's difference under the rows, at the data's scale.
        lassign $difference lo hi
        set zero [expr {$min - $hi}]
        dict set result zero $zero
        dict set result min [expr {$zero + $lo - $gap}]
    }
    return $result
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
    variable fitColour
    variable backgroundColour
    variable differenceColour
    variable otherColours
    variable labelRoom
    variable forbiddenMark
    set showExtinct [dict get $options extinct]
    set labelled [expr {[dict exists $options labels] && [dict get $options labels] ne ""}]
    set strong [expr {![dict exists $options intensity] || [dict get $options intensity]}]
    set scale [expr {[dict exists $options scale] ? [dict get $options scale] : "linear"}]
    set seconds [expr {[dict exists $options kalpha2] ? [dict get $options kalpha2] : {}}]
    set elements {}
    set xs {}
    set readings {}
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
        set fit [dict exists $pattern calculated]
        dict set readings [expr {$fit ? "observed" : "intensity"}] [list [dict get $pattern x] [dict get $pattern y]]
        lassign [bounds [dict get $pattern y]] rawlo rawhi
        if {$fit} {
            # The fit: the calculated curve over the observed one, the
            # background (hidden until asked for), and the difference in a
            # band of its own under the tick rows, at the data's scale.
            lset elements 0 [dict replace [lindex $elements 0] label \
                "[file tail [dict get $pattern source]]: observed ($n points)"]
            foreach {key colour width label hide} [list calculated $fitColour 1 "calculated (Rwp [dict get $pattern rwp])" 0 \
                                                       background $backgroundColour 1 "background (key b)" 1] {
                set cy [dict get $pattern $key]
                if {$scale ne "linear"} { set cy [lmap y $cy { scaled $scale $y }] }
                lappend elements [dict create name fit$key x [dict get $pattern x] y $cy sigma {} \
                    colour $colour dashes {} width $width hide $hide label $label axis y trace both]
                dict set readings $key [list [dict get $pattern x] [dict get $pattern $key]]
            }
            lassign [bounds [dict get $pattern calculated]] clo chi
            set rawlo [expr {min($rawlo, $clo)}]
            set rawhi [expr {max($rawhi, $chi)}]
            set diff [dict get $pattern difference]
            dict set readings difference [list [dict get $pattern x] $diff]
            lassign [bounds $diff] difflo diffhi
            set difflo [expr {min($difflo, 0.0)}]
            set diffhi [expr {max($diffhi, 0.0)}]
            lappend elements [dict create name fitdifference x [dict get $pattern x] y $diff sigma {} \
                colour $differenceColour dashes {} width 1 hide 0 label "observed − calculated" axis y \
                trace both difference 1]
            lassign [bounds [dict get $pattern x]] fx0 fx1
            lappend elements [dict create name fitzero x [list $fx0 $fx1] y {0 0} sigma {} \
                colour #808080 dashes {2 2} width 1 hide 0 label "" axis y trace both difference 0]
        }
        # More patterns: each in its colour, OFFSET above the one before.
        set offset [expr {[dict exists $options offset] ? [dict get $options offset] : 0.0}]
        set k 0
        foreach other [expr {[dict exists $options others] ? [dict get $options others] : {}}] {
            incr k
            set oy [lmap y [dict get $other y] { expr {$y + $k * $offset} }]
            set label "[file tail [dict get $other source]] ([llength $oy] points"
            append label [expr {$offset != 0 ? [format ", +%g)" [expr {$k * $offset}]] : ")"}]
            lappend elements [dict create name other$k x [dict get $other x] \
                y [expr {$scale eq "linear" ? $oy : [lmap y $oy { scaled $scale $y }]}] sigma {} \
                colour [lindex $otherColours [expr {($k - 1) % [llength $otherColours]}]] dashes {} \
                width 1 hide 0 label $label axis y trace both]
            lappend xs {*}[bounds [dict get $other x]]
            dict set readings [file tail [dict get $other source]] [list [dict get $other x] [dict get $other y]]
            lassign [bounds $oy] olo ohi
            set rawlo [expr {min($rawlo, $olo)}]
            set rawhi [expr {max($rawhi, $ohi)}]
        }
        set dlo [scaled $scale $rawlo]
        set dhi [scaled $scale $rawhi]
    }
    set rows [expr {$hasData && (![dict get $options sticks] || [dict exists $pattern calculated])}]
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
    if {$hasData && [dict exists $pattern calculated]} {
        # The difference's band under the rows, its zero line across.
        dict set result difference [list $difflo $diffhi]
        set geometry [rowGeometry {*}$window [llength $phases] $band [list $difflo $diffhi]]
        dict set result rows $geometry
        set elements [lmap e $elements {
            if {[dict exists $e difference]} {
                set z [dict get $geometry zero]
                dict set e y [lmap y [dict get $e y] { expr {$y + $z} }]
            }
            set e
        }]
    }
    set fittedStrongest ""
    foreach phase $phases {
        if {[dict exists $phase fitted]} {
            set top [strongest $phase]
            if {$top ne "" && ($fittedStrongest eq "" || $top > $fittedStrongest)} { set fittedStrongest $top }
        }
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
            # Reflections at one 2θ are one stick of their summed
            # intensity (the readout and the table list each).
            set groups [::peakview::strength::coincident $sx]
            if {[llength $groups] < [llength $sx]} {
                set firsts [lmap group $groups { lindex $group 0 }]
                lassign [::peakview::strength::summed $sx $heights] sx heights
                set plainLo [lmap f $firsts { lindex $plainLo $f }]
                set plainHi [lmap f $firsts { lindex $plainHi $f }]
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
                # A fit's phases share one scale: the strongest of them all.
                set strongest [expr {[dict exists $phase fitted] ? $fittedStrongest : [strongest $phase]}]
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
    dict set result readings [lmap {label xy} $readings { list $label {*}$xy }]
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
               -plotpady {8 0}]
    # A text wider than the picture is cut: past 32767 pixels, X takes
    # BLT's sizes for others and the viewer dies of an X error.
    $g configure -title [fit [dict get $layout title] [$g cget -font] $width]
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
    array unset ::peakview::plot::keyText $g,*
    set drawn {}
    set keys {}
    set under {}
    foreach e [dict get $layout elements] {
        set name [dict get $e name]
        set xv [blt::vector create ::peakview::plot::x_$name]
        set yv [blt::vector create ::peakview::plot::y_$name]
        $xv set [dict get $e x]
        $yv set [dict get $e y]
        if {[dict exists $e difference] && [dict get $e difference]} {
            # The difference as read, to be placed again under the rows.
            blt::vector create ::peakview::plot::raw_$name
            ::peakview::plot::raw_$name set [lindex [dict get $layout readings] \
                [expr {[lsearch -exact -index 0 [dict get $layout readings] difference]}] 2]
        }
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
            $g element create key_$name {*}$style \
                -label [fit [dict get $e label] [$g legend cget -font] $width]
            set ::peakview::plot::keyText($g,key_$name) [dict get $e label]
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
    # measured data over them all: a stick never hides a peak's top.
    # (BLT draws the list in its order, each element over those before;
    # the legend lists the entries in the reverse order.)
    set data [lsearch -all -inline -regexp $drawn {^(data|other|fit)}]
    $g element show [concat [lreverse $keys] [lreverse $under] \
                         [lsearch -all -inline -regexp -not $drawn {^(data|other|fit)}] $data]
    errorBars $g $width
    narrowLegend $g $width
    return $g
}

# Returns nothing; shortens the legend's entries of G, WIDTH pixels wide,
# so that the legend takes no more than a fifth of it: an entry too long
# ends in "…" (its full text: legendText).
proc ::peakview::plot::narrowLegend {g width} {
    variable keyText
    set font [$g legend cget -font]
    # The entry's line sample and the legend's margins take 40 pixels.
    set room [expr {max(40, $width / 5 - 40)}]
    foreach name [array names keyText $g,*] {
        set full $keyText($name)
        set text [fit $full $font $room]
        $g element configure [lindex [split $name ,] end] -label $text
    }
}

# Returns the full text of the legend's entry of G at the pixel X, Y, or
# "" where there is none.
proc ::peakview::plot::legendText {g x y} {
    variable keyText
    lassign [$g extents legend] lx ly lw lh
    if {$x < $lx || $x > $lx + $lw || $y < $ly || $y > $ly + $lh} { return "" }
    # (BLT finds an entry by its line sample and the start of its text only.)
    if {[catch {$g legend get @[expr {$lx + 12}],$y} name] || ![info exists keyText($g,$name)]} { return "" }
    return $keyText($g,$name)
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

# Returns TEXT where FONT draws it within PIXELS, else its longest start
# that does with an ellipsis after it.
proc ::peakview::plot::fit {text font pixels} {
    if {[font measure $font $text] <= $pixels} { return $text }
    # The most characters that fit, by halving.
    set lo 0
    set hi [string length $text]
    while {$lo < $hi} {
        set mid [expr {($lo + $hi + 1) / 2}]
        if {[font measure $font "[string range $text 0 $mid-1]\u2026"] <= $pixels} {
            set lo $mid
        } else {
            set hi [expr {$mid - 1}]
        }
    }
    return "[string range $text 0 $lo-1]\u2026"
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
    set difference [expr {[dict exists $layout difference] ? [dict get $layout difference] : {}}]
    set geometry [rowGeometry $wlo $whi $n $band $difference]
    set rows($g) $geometry
    foreach e [dict get $layout elements] {
        if {[dict exists $e difference]} {
            # (The vectors' own arithmetic: a fit has many points.)
            set name [dict get $e name]
            set zero [dict get $geometry zero]
            if {[dict get $e difference]} {
                ::peakview::plot::y_$name expr "::peakview::plot::raw_$name + $zero"
            } else {
                ::peakview::plot::y_$name set [list $zero $zero]
            }
            continue
        }
        if {![dict exists $e row]} continue
        ::peakview::plot::y_[dict get $e name] set [rowYs $e $geometry]
    }
    $g axis configure y -min [dict get $geometry min] -max $whi
}

# Returns the y list YS of sticks (pairs of ends) with each stick that
# reaches into the range LO to HI cut at its edges; a stick wholly above
# or below it stays as it is.
proc ::peakview::plot::clampSticks {ys lo hi} {
    set out {}
    foreach {a b} $ys {
        if {$a > $b} { lassign [list $b $a] a b }
        if {$b < $lo || $a > $hi} {
            lappend out $a $b
            continue
        }
        lappend out [expr {$a < $lo ? $lo : $a}] [expr {$b > $hi ? $hi : $b}]
    }
    return $out
}

# Returns nothing; sets the sticks of G's LAYOUT (those drawn alone and
# the stick patterns under the data) to the y range their axis shows now:
# BLT leaves out a stick of a line element whose end lies past the plot
# area's edge, so a zoom box whose top and bottom cut through sticks would
# show none of them. The tick rows are placed inside the range already.
proc ::peakview::plot::clip {g layout} {
    foreach axis {y y2} {
        lassign [$g axis limits $axis] lo($axis) hi($axis)
    }
    foreach e [dict get $layout elements] {
        if {[dict get $e trace] ne "decreasing" || [dict exists $e row]} continue
        set axis [dict get $e axis]
        set ys [dict get $e y]
        lassign [bounds $ys] ylo yhi
        if {$ylo eq "" || ($ylo >= $lo($axis) && $yhi <= $hi($axis))} {
            set clamped $ys
        } else {
            set clamped [clampSticks $ys $lo($axis) $hi($axis)]
        }
        set v ::peakview::plot::y_[dict get $e name]
        if {[$v length] == [llength $clamped]} { $v set $clamped }
    }
}

# Returns nothing; shows on G (drawn from LAYOUT, WIDTH pixels wide) the
# 2θ range XRANGE and the data's range YRANGE ({LO HI}, or {} for all):
# over tick rows, the rows stand under YRANGE.
proc ::peakview::plot::region {g layout xrange yrange width} {
    if {[llength $xrange] == 2} {
        $g axis configure x -min [lindex $xrange 0] -max [lindex $xrange 1]
    }
    if {[llength $yrange] == 2} {
        if {[llength [dict get $layout window]] == 2} {
            showData $g $layout {*}$yrange
        } else {
            $g axis configure y -min [lindex $yrange 0] -max [lindex $yrange 1]
        }
    }
    clip $g $layout
    errorBars $g $width
}

# Writes GRAPH as a PDF, WIDTH by HEIGHT pixels on the page, to FILE (its
# PostScript through Ghostscript); returns nothing.
proc ::peakview::plot::writePdf {g file width height} {
    set gs [auto_execok gs]
    if {[llength $gs] != 1} {
        return -code error -errorcode {PEAKVIEW OUTPUT} \
            "cannot write $file: PDF is written through Ghostscript, which is not installed (Debian: ghostscript)"
    }
    # Ghostscript writes into a file of the viewer's own making (a name of
    # the user's could hold its pipe or format characters); the PDF then
    # replaces FILE as the other pictures do.
    close [file tempfile ps .ps]
    close [file tempfile pdf .pdf]
    try {
        writePs $g $ps $width $height
        package require peakview::sources
        set made [::peakview::sources::run [lindex $gs 0] [list -q -dSAFER -dBATCH -dNOPAUSE -dEPSCrop \
            -sDEVICE=pdfwrite -sOutputFile=$pdf $ps] /dev/null 60000]
        if {[dict get $made status] != 0} {
            return -code error -errorcode {PEAKVIEW OUTPUT} \
                "cannot write $file: Ghostscript: [::peakview::guard::cut [dict get $made err][dict get $made out]]"
        }
        set f [open $pdf rb]
        set bytes [read $f]
        close $f
        if {[catch {::peakview::guard::replace $file $bytes} msg]} {
            return -code error -errorcode {PEAKVIEW OUTPUT} "cannot write $file: $msg"
        }
    } finally {
        file delete $ps $pdf
    }
}

# Writes GRAPH as a PNG image WIDTH by HEIGHT to FILE (see
# guard::replace: whole, never through a link); returns nothing.
proc ::peakview::plot::writePng {g file width height} {
    set img [image create photo]
    $g snap -width $width -height $height $img
    set failed [catch {
        set bytes [$img data -format png]
        # (Tk 8.6 gives the bytes; a later Tk may give them as base64.)
        if {[string range $bytes 0 3] ne "\x89PNG"} { set bytes [binary decode base64 $bytes] }
        ::peakview::guard::replace $file $bytes
    } msg]
    image delete $img
    if {$failed} {
        return -code error -errorcode {PEAKVIEW OUTPUT} "cannot write $file: $msg"
    }
}

# Writes GRAPH as PostScript, WIDTH by HEIGHT pixels on the page, to FILE
# (as writePng does); returns nothing.
proc ::peakview::plot::writePs {g file width height} {
    if {[catch {
        set text [$g postscript output -width $width -height $height -maxpect no \
                      -decorations no -center yes]
        ::peakview::guard::replace $file [encoding convertto utf-8 $text]
    } msg]} {
        return -code error -errorcode {PEAKVIEW OUTPUT} "cannot write $file: $msg"
    }
}
