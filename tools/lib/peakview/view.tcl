# The window: the status line under the graph (the readout and a help
# line), and zooming and panning as in other plotting programs. Needs Tk
# and BLT.
#
#   peakview::view::window TOP PHASES PATTERN OPTIONS   the graph and its status line in TOP
#   peakview::view::interact GRAPH SETTINGS    the status line's widget, the bindings made
#   peakview::view::point GRAPH PX PY          the readout for the pointer at a pixel
#   peakview::view::box GRAPH X0 Y0 X1 Y1      zoom to a box drawn from pixel to pixel
#   peakview::view::wheel GRAPH PX STEPS       zoom in (STEPS > 0) or out about a pixel column
#   peakview::view::pan GRAPH DX DY            move the view by pixels
#   peakview::view::back GRAPH, reset GRAPH    one zoom level back, the whole picture
#   peakview::view::limits GRAPH               the view: {x {LO HI} y {LO HI} ?y2 {LO HI}?}
#
# A view is the 2θ range, the range of the data's axis above the tick
# rows (the rows take their place under it, so that they stay in view) and
# where the sticks have an axis of their own, its range. The procedures
# that change the view are those the bindings call, and those the tests
# and the benchmark drive.

package require peakview::readout
package require peakview::strength
package require peakview::plot
package require peakview::labels

namespace eval ::peakview::view {
    # A box less tall than this (pixels) zooms in 2θ only; one less wide
    # is a click, not a box.
    variable flat 8
    variable narrow 4
    # One wheel step zooms in 2θ by this factor.
    variable step 0.8
    variable help "Drag: zoom to a box (a flat one: 2\u03b8 only) \u00b7 wheel: zoom about the pointer \u00b7\
        middle button or Shift+drag: pan \u00b7 Esc: cancel the box\nRight button, Backspace or u: back \u00b7\
        Home or r: the whole pattern \u00b7 i: intensities on/off \u00b7 s: write the sticks shown \u00b7 q: close"
    # By graph: the settings, the view stack, the gesture under way.
    variable settings
    variable stack
    variable gesture
    variable readout
}

# Returns the graph it makes in the toplevel TOP (with its status line,
# the labels that follow the zoom, the axis along the top) and shows: the
# PHASES over PATTERN ({} for none), drawn under OPTIONS, a dict with the
# keys of peakview::plot::layout's and draw's options (size, extinct,
# sticks, labels, intensity, scale, kalpha2), axis ("", d or q) and
# wavelength (the phases' common wavelength, "" where they differ).
proc ::peakview::view::window {top phases pattern options} {
    lassign [dict get $options size] width height
    set layout [::peakview::plot::layout $phases $pattern $options]
    set g [::peakview::plot::draw [expr {$top eq "." ? "" : $top}].g $layout $width $height \
               [dict get $options scale]]
    pack $g -fill both -expand yes
    set which [dict get $options labels]
    set labelled {}
    if {$which ne ""} {
        set labelled [::peakview::labels::sticks $phases $layout $which]
    }
    set second [expr {[dict get $options axis] eq "" ? {} : [list [dict get $options axis] [dict get $options wavelength]]}]
    set bar [interact $g [dict create phases $phases layout $layout scale [dict get $options scale] \
        second $second wavelength [dict get $options wavelength] \
        labels [expr {[llength $labelled] > 0 ? [list $labelled TkDefaultFont $which] : {}}] \
        extinct [dict get $options extinct] intensity [dict get $options intensity]]]
    pack $bar -fill x -side bottom -before $g
    if {[llength $labelled] > 0} {
        ::peakview::labels::follow $g $labelled TkDefaultFont
    }
    wm deiconify $top
    update
    if {$second ne ""} { ::peakview::plot::secondAxis $g {*}$second }
    return $g
}

# Returns the status line's frame, packed by the caller, after binding the
# gestures and keys of the graph G. SETTINGS is a dict: phases (the phase
# records drawn), layout (from peakview::plot::layout), scale (of the
# data's axis), second ({} or {KIND WAVELENGTH} for the axis along the
# top), wavelength (the phases' own, "" where they differ: the readout's
# d), labels ({} or {STICKS FONT WHICH} where the sticks are labelled),
# extinct (forbidden sticks shown) and intensity (the intensities shown).
proc ::peakview::view::interact {g settings} {
    variable help
    variable stack
    variable gesture
    variable readout
    set top [winfo toplevel $g]
    set bar [frame [expr {$top eq "." ? "" : $top}].status]
    # A label one character wide asks for no more room whatever its text:
    # the window keeps its size, the text is cut at the window's edge.
    foreach {name text colour} [list readout "" black note "" #004080 hint $help #555555] {
        label $bar.$name -anchor w -justify left -width 1 -foreground $colour -text $text
        pack $bar.$name -side top -fill x
    }
    $bar.readout configure -textvariable ::peakview::view::readout($g)
    set readout($g) ""
    dict set settings bar $bar
    setup $g $settings
    bind $g <Motion> [list ::peakview::view::motion $g %x %y]
    bind $g <Leave> [list set ::peakview::view::readout($g) ""]
    bind $g <ButtonPress-1> [list ::peakview::view::press $g box %x %y]
    bind $g <Shift-ButtonPress-1> [list ::peakview::view::press $g pan %x %y]
    bind $g <ButtonPress-2> [list ::peakview::view::press $g pan %x %y]
    bind $g <ButtonRelease-1> [list ::peakview::view::release $g %x %y]
    bind $g <ButtonRelease-2> [list ::peakview::view::release $g %x %y]
    bind $g <ButtonPress-3> [list ::peakview::view::back $g]
    # X11 sends the wheel as buttons 4 and 5.
    bind $g <ButtonPress-4> [list ::peakview::view::wheel $g %x 1]
    bind $g <ButtonPress-5> [list ::peakview::view::wheel $g %x -1]
    bind $g <MouseWheel> [list apply {{g x d} { ::peakview::view::wheel $g $x [expr {$d > 0 ? 1 : -1}] }} $g %x %D]
    foreach {keys command} {
        {<Escape>} cancel
        {<BackSpace> <Key-u>} back
        {<Home> <Key-r>} reset
        {<Key-i>} toggle
        {<Key-s>} save
        {<Key-q> <Control-Key-w>} quit
    } {
        foreach key $keys { bind $top $key [list ::peakview::view::$command $g] }
    }
    # A new size lays the tick rows out again: their label bands keep room
    # for a label.
    bind $g <Configure> +[list ::peakview::view::refit $g]
    focus $g
    Blt_Crosshairs $g
    return $bar
}

# Returns nothing; shows G's view again at the graph's new size.
proc ::peakview::view::refit {g} {
    variable settings
    if {[info exists settings($g)] && [llength [dict get $settings($g) window]] == 2} {
        show $g [limits $g]
    }
}

# Returns nothing; keeps SETTINGS for the graph G and clears its view
# stack (the tests set a graph up without its status line through this).
proc ::peakview::view::setup {g given} {
    variable settings
    variable stack
    variable gesture
    dict set given window [dict get $given layout window]
    if {![dict exists $given home]} { dict set given home [limits $g $given] }
    if {![dict exists $given prepared]} {
        dict set given prepared [::peakview::readout::prepare [dict get $given phases]]
    }
    set settings($g) $given
    set stack($g) {}
    set gesture($g) {}
}

# Returns the view of G: {x {LO HI} y {LO HI}}, y the range of the data's
# axis above the tick rows where there are any, and y2 {LO HI} where the
# sticks have their own axis. SETTINGS is the graph's (given while it is
# set up).
proc ::peakview::view::limits {g {settings ""}} {
    if {$settings eq ""} { set settings $::peakview::view::settings($g) }
    set view [dict create x [$g axis limits x] y [$g axis limits y]]
    if {[llength [dict get $settings window]] == 2} {
        # The data's part of the y axis: the window the rows stand under.
        dict set view y [dict get $settings window]
    }
    if {[llength [dict get $settings layout y2range]] == 2} {
        dict set view y2 [$g axis limits y2]
    }
    return $view
}

# Returns nothing; shows the VIEW (see limits) on G: the axes' limits, the
# tick rows under the data, the axis along the top, and the labels laid
# out anew once the window is idle.
proc ::peakview::view::show {g view} {
    variable settings
    set s $settings($g)
    $g axis configure x -min [lindex [dict get $view x] 0] -max [lindex [dict get $view x] 1]
    ::peakview::plot::errorBars $g
    lassign [dict get $view y] lo hi
    if {[llength [dict get $s layout window]] == 2} {
        ::peakview::plot::showData $g [dict get $s layout] $lo $hi
        dict set settings($g) window [list $lo $hi]
    } else {
        $g axis configure y -min $lo -max $hi
    }
    if {[dict exists $view y2]} {
        $g axis configure y2 -min [lindex [dict get $view y2] 0] -max [lindex [dict get $view y2] 1]
    }
    if {[llength [dict get $s second]] == 2} {
        ::peakview::plot::secondAxis $g {*}[dict get $s second]
    }
    if {[llength [dict get $s labels]] > 0} {
        ::peakview::labels::later $g
    }
}

# Returns nothing; puts the view of G on its stack, to go back to.
proc ::peakview::view::push {g} {
    variable stack
    lappend stack($g) [limits $g]
}

# Returns the 2θ and the data axis's value at the pixel PX, PY of G.
proc ::peakview::view::at {g px py} {
    return [list [$g axis invtransform x $px] [$g axis invtransform y $py]]
}

# Returns nothing; zooms G to the box drawn from the pixel X0, Y0 to X1,
# Y1. A box less tall than flat pixels zooms in 2θ only. Over tick rows,
# the box's top sets the top of the data's axis and its foot stays at the
# data's foot: the rows stand under it, and no data falls among them. A
# box less wide than narrow pixels does nothing.
proc ::peakview::view::box {g x0 y0 x1 y1} {
    variable flat
    variable narrow
    variable settings
    if {abs($x1 - $x0) < $narrow} return
    set view [limits $g]
    lassign [at $g [expr {min($x0, $x1)}] [expr {max($y0, $y1)}]] xlo ylo
    lassign [at $g [expr {max($x0, $x1)}] [expr {min($y0, $y1)}]] xhi yhi
    set new [dict replace $view x [list $xlo $xhi]]
    lassign [dict get $view y] wlo whi
    if {[llength [dict get $settings($g) window]] == 2} { set ylo $wlo }
    if {abs($y1 - $y0) >= $flat && $yhi > $ylo} {
        dict set new y [list $ylo $yhi]
        if {[dict exists $view y2]} {
            # The sticks' axis by the same parts of its range.
            lassign [dict get $view y2] alo ahi
            set f0 [expr {($ylo - $wlo) / ($whi - $wlo)}]
            set f1 [expr {($yhi - $wlo) / ($whi - $wlo)}]
            dict set new y2 [list [expr {$alo + $f0 * ($ahi - $alo)}] [expr {$alo + $f1 * ($ahi - $alo)}]]
        }
    }
    push $g
    show $g $new
}

# Returns nothing; zooms G in 2θ about the pixel column PX: in by the
# factor step for each of STEPS above 0, out for each below, no further
# out than the whole picture. The first of a run of steps can be gone
# back to.
proc ::peakview::view::wheel {g px steps} {
    variable step
    variable gesture
    variable settings
    if {[lindex $gesture($g) 0] ne "wheel"} { push $g }
    set gesture($g) wheel
    set view [limits $g]
    lassign [dict get $view x] lo hi
    lassign [dict get $settings($g) home x] hlo hhi
    set x [$g axis invtransform x $px]
    set x [expr {min(max($x, $lo), $hi)}]
    set f [expr {$step ** $steps}]
    set lo [expr {$x - ($x - $lo) * $f}]
    set hi [expr {$x + ($hi - $x) * $f}]
    if {$hi - $lo >= $hhi - $hlo} {
        set lo $hlo
        set hi $hhi
    }
    show $g [dict replace $view x [list $lo $hi]]
}

# Returns nothing; moves the view of G by DX, DY pixels, as the pointer
# drags the picture: 2θ, and the data's axis and the sticks' axis together
# where there are no tick rows (over them, the data's foot stays).
proc ::peakview::view::pan {g dx dy} {
    variable settings
    set view [limits $g]
    if {[llength [dict get $settings($g) window]] == 2} { set dy 0 }
    set area [plotArea $g]
    lassign $area px0 py0 px1 py1
    lassign [dict get $view x] lo hi
    set shift [expr {-$dx * ($hi - $lo) / double($px1 - $px0)}]
    dict set view x [list [expr {$lo + $shift}] [expr {$hi + $shift}]]
    foreach axis {y y2} {
        if {![dict exists $view $axis]} continue
        lassign [$g axis limits $axis] alo ahi
        set shift [expr {$dy * ($ahi - $alo) / double($py1 - $py0)}]
        lassign [dict get $view $axis] lo hi
        dict set view $axis [list [expr {$lo + $shift}] [expr {$hi + $shift}]]
    }
    show $g $view
}

# Returns the plot area of G in pixels: {x0 y0 x1 y1}.
proc ::peakview::view::plotArea {g} {
    lassign [$g axis limits x] xmin xmax
    lassign [$g axis limits y] ymin ymax
    return [list {*}[$g transform $xmin $ymax] {*}[$g transform $xmax $ymin]]
}

# Returns nothing; goes one zoom level back on G (nothing at the top).
proc ::peakview::view::back {g} {
    variable stack
    variable gesture
    cancel $g
    if {[llength $stack($g)] == 0} return
    set view [lindex $stack($g) end]
    set stack($g) [lrange $stack($g) 0 end-1]
    set gesture($g) {}
    show $g $view
}

# Returns nothing; shows the whole picture on G and forgets the zooms.
proc ::peakview::view::reset {g} {
    variable stack
    variable settings
    cancel $g
    set stack($g) {}
    show $g [dict get $settings($g) home]
}

# Returns nothing; starts the gesture KIND (box or pan) at the pixel X, Y
# of G, inside the plot area only.
proc ::peakview::view::press {g kind x y} {
    variable gesture
    focus $g
    if {![$g inside $x $y]} return
    if {$kind eq "pan"} { push $g }
    set gesture($g) [list $kind $x $y $x $y]
}

# Returns nothing; follows the pointer at X, Y over G: the readout, and
# the box or the pan under way.
proc ::peakview::view::motion {g x y} {
    variable gesture
    lassign $gesture($g) kind x0 y0 lx ly
    switch -- $kind {
        box {
            lset gesture($g) 3 $x
            lset gesture($g) 4 $y
            lassign [at $g $x0 $y0] ax ay
            lassign [at $g $x $y] bx by
            set coords [list $ax $ay $bx $ay $bx $by $ax $by $ax $ay]
            if {[$g marker exists peakview-box]} {
                $g marker configure peakview-box -coords $coords
            } else {
                # Drawn in XOR, the box moves without the graph being
                # drawn again.
                $g marker create line -name peakview-box -coords $coords -dashes {4 2} \
                    -outline #404040 -linewidth 1 -xor yes
            }
        }
        pan {
            pan $g [expr {$x - $lx}] [expr {$y - $ly}]
            lset gesture($g) 3 $x
            lset gesture($g) 4 $y
        }
    }
    point $g $x $y
}

# Returns nothing; ends the gesture under way on G at the pixel X, Y: a
# box zooms, a pan stays where it is.
proc ::peakview::view::release {g x y} {
    variable gesture
    lassign $gesture($g) kind x0 y0
    cancel $g
    if {$kind eq "box"} { box $g $x0 $y0 $x $y }
}

# Returns nothing; drops the box being drawn on G, if any.
proc ::peakview::view::cancel {g} {
    variable gesture
    set gesture($g) {}
    if {[$g marker exists peakview-box]} { $g marker delete peakview-box }
}

# Returns nothing; sets the readout of G for the pointer at the pixel PX,
# PY: the pointer's 2θ, its d, the data's intensity above the tick rows,
# and the nearest sticks within three pixels.
proc ::peakview::view::point {g px py} {
    variable readout
    variable settings
    set s $settings($g)
    if {![$g inside $px $py]} {
        set readout($g) ""
        return
    }
    lassign [at $g $px $py] x y
    set tolerance [expr {abs([$g axis invtransform x [expr {$px + 3}]] - $x)}]
    # No intensity is read among the tick rows, nor off the data's axis.
    set layout [dict get $s layout]
    set intensity ""
    if {[llength [dict get $layout window]] != 2 || $y >= [lindex [dict get $s window] 0]} {
        set intensity [::peakview::plot::unscaled [dict get $s scale] $y]
    }
    set near [::peakview::readout::near [dict get $s phases] $x $tolerance [dict get $s prepared]]
    set readout($g) [::peakview::readout::line \
        [::peakview::readout::pointer $x $intensity [dict get $s wavelength]] $near]
}

# Returns nothing; shows or hides the intensities on G: the stick
# patterns under the data, the sticks' heights on their own axis.
proc ::peakview::view::toggle {g} {
    variable settings
    set s $settings($g)
    set on [expr {![dict get $s intensity]}]
    dict set settings($g) intensity $on
    set layout [dict get $s layout]
    set elements {}
    foreach e [dict get $layout elements] {
        set name [dict get $e name]
        if {[dict exists $e pattern]} {
            $g element configure $name -hide [expr {!$on}]
        }
        if {[dict exists $e plain]} {
            # The two y lists trade places.
            set y [dict get $e y]
            dict set e y [dict get $e plain]
            dict set e plain $y
            ::peakview::plot::y_$name set [dict get $e y]
        }
        lappend elements $e
    }
    dict set layout elements $elements
    dict set settings($g) layout $layout
    note $g [expr {$on ? "intensities shown" : "intensities hidden"}]
    set labels [dict get $s labels]
    if {[llength $labels] > 0} {
        lassign $labels sticks font which
        set sticks [::peakview::labels::sticks [dict get $s phases] $layout $which]
        dict set settings($g) labels [list $sticks $font $which]
        ::peakview::labels::follow $g $sticks $font
        ::peakview::labels::later $g
    }
}

# Returns the path of the file it wrote: the table of the sticks in the
# 2θ range shown on G, in the current directory under a name not taken
# yet (peakview-sticks-N.tsv), named in the status line.
proc ::peakview::view::save {g} {
    variable settings
    set s $settings($g)
    for {set n 1} {[file exists [set path [file join [pwd] peakview-sticks-$n.tsv]]]} {incr n} {}
    lassign [$g axis limits x] lo hi
    if {[catch {::peakview::strength::write $path [dict get $s phases] [dict get $s extinct] $lo $hi} rows]} {
        note $g "cannot write $path: $rows"
        return ""
    }
    note $g [format "wrote %d sticks between 2\u03b8 %.3f\u00b0 and %.3f\u00b0 to %s" $rows $lo $hi $path]
    return $path
}

# Returns nothing; says TEXT in the status line of G.
proc ::peakview::view::note {g text} {
    variable settings
    if {[dict exists $settings($g) bar]} {
        [dict get $settings($g) bar].note configure -text $text
    }
}

# Returns nothing; closes the window of G.
proc ::peakview::view::quit {g} {
    destroy [winfo toplevel $g]
}
