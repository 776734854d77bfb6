# The plot: the measured pattern as a line, each phase's sticks, the
# legend, the axes, and the pictures written from it. Needs Tk and BLT.
#
#   peakview::plot::layout PHASES PATTERN OPTIONS   the elements to draw (no Tk needed)
#   peakview::plot::draw WIDGET LAYOUT W H          a BLT graph of the layout
#   peakview::plot::writePng GRAPH FILE W H, writePs GRAPH FILE W H
#   peakview::plot::interact GRAPH PHASES           the window's readout and zoom

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
    variable labelRoom 0.2
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
    set notes {}
    if {[dict get $phase wavelength] ne ""} {
        lappend notes [format "λ %.5g Å" [dict get $phase wavelength]]
    }
    if {[dict get $phase zero] ne ""} {
        lappend notes [format "zero %.3g°" [dict get $phase zero]]
    }
    if {[llength $notes] > 0} { append text " ([join $notes {, }])" }
    return $text
}

# Returns what to draw for PHASES over PATTERN (a pattern dict, or {} for
# none) under OPTIONS (a dict: extinct, sticks, title, and labels where
# the sticks get h k l labels): a dict with title, xrange, yrange, y2range
# ({} unless used) and elements, a list of dicts (name, x, y, colour,
# dashes, width, label, axis, trace, sigma, and for a tick row ceiling:
# the y its labels stay below).
proc ::peakview::plot::layout {phases pattern options} {
    variable dataColour
    variable rowHeight
    variable rowGap
    variable labelBand
    variable labelRoom
    set showExtinct [dict get $options extinct]
    set labelled [expr {[dict exists $options labels] && [dict get $options labels] ne ""}]
    set elements {}
    set xs {}
    if {[dict size $pattern] > 0} {
        set n [llength [dict get $pattern x]]
        # Error bars are drawn where each has a few pixels' room of its own.
        set sigma [dict get $pattern sigma]
        if {$n > [lindex [dict get $options size] 0] / 4} { set sigma {} }
        lappend elements [dict create name data x [dict get $pattern x] y [dict get $pattern y] \
            sigma $sigma colour $dataColour dashes {} width 1 \
            label "[file tail [dict get $pattern source]] ($n points)" axis y trace both]
        lappend xs {*}[bounds [dict get $pattern x]]
        lassign [bounds [dict get $pattern y]] dlo dhi
    }
    set rows [expr {[dict size $pattern] > 0 && ![dict get $options sticks]}]
    if {$rows} {
        set span [expr {$dhi > $dlo ? $dhi - $dlo : max(abs($dhi), 1.0)}]
        set h [expr {$rowHeight * $span}]
        set gap [expr {$rowGap * $span}]
        set band [expr {$labelled ? $labelBand * $span : 0.0}]
    }
    set ys {}
    set k 0
    foreach phase $phases {
        set colour [dict get $phase colour]
        foreach kind {allowed extinct} {
            if {$kind eq "extinct" && !$showExtinct} continue
            set sticks [dict get $phase $kind]
            set sx [dict get $sticks x]
            lappend xs {*}[bounds $sx]
            if {$rows} {
                # Row k lies below the data, under the rows before it (and
                # under its labels' band); a forbidden tick is the lower
                # half of an allowed one.
                set top [expr {$dlo - $gap - $band - $k * ($h + $gap + $band)}]
                set ceiling [expr {$top + $band + $gap}]
                set bottom [expr {$top - $h}]
                if {$kind eq "extinct"} { set top [expr {$bottom + 0.5 * $h}] }
                set n [llength $sx]
                lassign [stickPoints $sx [lrepeat $n $bottom] [lrepeat $n $top]] px py
                set axis y
            } else {
                lassign [stickPoints $sx [dict get $sticks ylo] [dict get $sticks yhi]] px py
                lappend ys {*}[bounds $py]
                set axis [expr {[dict size $pattern] > 0 ? "y2" : "y"}]
            }
            set label [expr {$kind eq "allowed" ? [phaseLabel $phase $showExtinct]
                             : "[dict get $phase name]: [dict get $phase nextinct] forbidden"}]
            if {$kind eq "extinct" && [dict get $phase nextinct] == 0} { set label "" }
            set e [dict create name $kind$k x $px y $py sigma {} \
                colour [expr {$kind eq "allowed" ? $colour : [::peakview::phases::lighter $colour]}] \
                dashes [expr {$kind eq "allowed" || $rows ? {} : {4 3}}] width 2 \
                label $label axis $axis trace decreasing]
            if {$rows} { dict set e ceiling $ceiling }
            lappend elements $e
        }
        incr k
    }

    set result [dict create elements $elements xrange {} yrange {} y2range {}]
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
    set range [expr {[dict size $pattern] > 0 ? [list $dlo $dhi] : [bounds $ys]}]
    if {$rows} {
        lset range 0 [expr {$dlo - $gap - $k * ($h + $gap + $band)}]
    }
    # Room above the sticks drawn alone for their labels.
    set room [expr {$labelled && !$rows ? 0.05 + $labelRoom : 0.05}]
    if {[llength $range] == 2} {
        lassign $range lo hi
        set span [expr {$hi - $lo}]
        if {$span > 0} {
            set top [expr {[dict size $pattern] > 0 ? 0.05 : $room}]
            dict set result yrange [list $lo [expr {$hi + $top * $span}]]
        }
    }
    if {[dict size $pattern] > 0 && !$rows} {
        lassign [bounds $ys] lo hi
        if {$lo ne "" && $hi > $lo} { dict set result y2range [list $lo [expr {$hi + $room * ($hi - $lo)}]] }
    }
    return $result
}

# Returns the BLT graph WIDGET, created and filled with LAYOUT, WIDTH by
# HEIGHT pixels.
proc ::peakview::plot::draw {widget layout width height} {
    set g [blt::graph $widget -width $width -height $height -plotbackground white \
               -plotpady {8 0} -title [dict get $layout title]]
    $g axis configure x -title "2\u03b8 (degrees)"
    $g axis configure y -title "intensity"
    $g legend configure -position right -anchor n -relief flat -borderwidth 0
    foreach {axis key} {x xrange y yrange y2 y2range} {
        set range [dict get $layout $key]
        if {[llength $range] == 2 && [lindex $range 1] - [lindex $range 0] < 1e300} {
            lassign [::peakview::guard::axis {*}$range] lo hi
            $g axis configure $axis -min $lo -max $hi
        }
    }
    if {[llength [dict get $layout y2range]] > 0} {
        $g axis configure y2 -hide no -title "stick height"
    }
    set drawn {}
    set keys {}
    foreach e [dict get $layout elements] {
        set name [dict get $e name]
        set xv [blt::vector create ::peakview::plot::x_$name]
        set yv [blt::vector create ::peakview::plot::y_$name]
        $xv set [dict get $e x]
        $yv set [dict get $e y]
        set style [list -symbol none -linewidth [dict get $e width] -color [dict get $e colour] \
                       -dashes [dict get $e dashes]]
        $g element create $name -xdata $xv -ydata $yv {*}$style -label "" \
            -mapy [dict get $e axis] -trace [dict get $e trace]
        if {[llength [dict get $e sigma]] > 0} {
            set sv [blt::vector create ::peakview::plot::s_$name]
            $sv set [dict get $e sigma]
            $g element configure $name -yerror $sv -showerrorbars y -errorbarcolor #7f7f7f
        }
        # The legend entry: an element without points in the same style,
        # so that the legend's order need not be the drawing order.
        if {[dict get $e label] ne ""} {
            $g element create key_$name {*}$style -label [dict get $e label]
            lappend keys key_$name
        }
        lappend drawn $name
    }
    # The sticks phase by phase, each phase's forbidden sticks over its
    # allowed ones, and the measured data over them all. The legend lists
    # the elements in the reverse of the drawing order.
    set data [lsearch -all -inline -exact $drawn data]
    $g element show [concat [lreverse $keys] [lsearch -all -inline -exact -not $drawn data] $data]
    return $g
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

# Returns the status line's widget: under GRAPH, the pointer's 2θ and
# intensity and the sticks of PHASES within a few pixels of it, and how to
# zoom. Zooming is BLT's zoom stack.
proc ::peakview::plot::interact {g phases} {
    variable readout ""
    set top [winfo parent $g]
    set bar [frame [expr {$top eq "." ? "" : $top}].status]
    label $bar.hint -anchor w -foreground #555555 \
        -text "Zoom: click one corner, then the opposite corner, with the left button; right button: back out."
    label $bar.readout -anchor w -textvariable ::peakview::plot::readout
    pack $bar.readout $bar.hint -side top -fill x
    bind $g <Motion> [list ::peakview::plot::point $g $phases %x %y]
    Blt_ZoomStack $g
    Blt_Crosshairs $g
    return $bar
}

# Returns nothing; sets the readout for the pointer at pixel PX, PY.
proc ::peakview::plot::point {g phases px py} {
    variable readout
    if {![$g inside $px $py]} {
        set readout ""
        return
    }
    set x [$g axis invtransform x $px]
    set y [$g axis invtransform y $py]
    # Three pixels either side, in degrees.
    set tolerance [expr {abs([$g axis invtransform x [expr {$px + 3}]] - $x)}]
    set text [::peakview::readout::pointer $x $y]
    set near [::peakview::readout::near $phases $x $tolerance]
    if {[llength $near] > 0} {
        append text "    " [join [lmap s $near { ::peakview::readout::describe $s }] "; "]
    }
    set readout $text
}
