# The h k l labels over the sticks, laid out as pure computation: which
# labels are kept, in which box, and how many are dropped. Nothing here
# needs a window; the plot draws the boxes this computes.
#
# Coordinates are pixels, x to the right and y downwards, as on the
# screen; a box is {x0 y0 x1 y1} with x0 < x1 and y0 < y1.

namespace eval ::peakview::labels {
    namespace export text order layout
    # The width of the columns that index the boxes already placed.
    variable column 32
    # Labels as BLT's rotated text (1: for PostScript, which keeps text as
    # text) or as images made once (0: fast to draw again).
    variable rotatedText 0
    # The label images made (see images), and the graph they are made on.
    variable made [dict create]
    variable maker [dict create size {600 400}]
    # By graph: the text of each label marker shown.
    variable labelTexts
}

# Returns the label of a reflection: its indices separated by blanks
# ("1 1 0", "-2 1 3"), and its INTENSITY where it is known and not 0, to
# the unit ("2 0 0 (100)").
proc ::peakview::labels::text {h k l {intensity ""}} {
    if {$intensity ne "" && $intensity > 0} {
        return [format "%s %s %s (%.0f)" $h $k $l $intensity]
    }
    return "$h $k $l"
}

# Returns the sticks (dicts with at least the keys group, tt and mult,
# where known intensity, and forbidden 1 for a forbidden stick) sorted in
# the order their labels are placed: within a group (a phase), the allowed
# sticks before the forbidden ones, then the stronger first where the
# intensities are known (intensity not empty, from peakhkl's table), then
# the higher multiplicity where known (mult not empty), and the lower
# 2-theta breaks ties. Groups take turns: the
# first stick of every group, then the second of every group, and so on,
# so that a crowded phase cannot take every place from another.
proc ::peakview::labels::order {sticks} {
    set keyed {}
    set i 0
    foreach stick $sticks {
        set mult [dict get $stick mult]
        set forbidden [expr {[dict exists $stick forbidden] && [dict get $stick forbidden]}]
        set strength [expr {[dict exists $stick intensity] ? [dict get $stick intensity] : ""}]
        lappend keyed [list [dict get $stick group] $forbidden [expr {$mult eq "" ? 0 : -$mult}] \
                           [dict get $stick tt] $i [expr {$strength eq "" ? 0.0 : -$strength}]]
        incr i
    }
    # lsort is stable: sorting by the least significant key first leaves
    # each group sorted by kind, then intensity, then multiplicity, then
    # 2-theta.
    set keyed [lsort -real -index 3 $keyed]
    set keyed [lsort -integer -index 2 $keyed]
    set keyed [lsort -real -index 5 $keyed]
    set keyed [lsort -integer -index 1 $keyed]
    set keyed [lsort -dictionary -index 0 $keyed]
    set ranked {}
    set group ""
    set rank 0
    foreach key $keyed {
        if {[lindex $key 0] ne $group} {
            set group [lindex $key 0]
            set rank 0
        }
        lappend ranked [list $rank [lindex $key 4]]
        incr rank
    }
    return [lmap key [lsort -integer -index 0 $ranked] { lindex $sticks [lindex $key 1] }]
}

# Returns the columns (indices) that the box BOX spans, widened by PAD
# pixels on each side.
proc ::peakview::labels::columns {box pad} {
    variable column
    set first [expr {int(floor(([lindex $box 0] - $pad) / double($column)))}]
    set last [expr {int(floor(([lindex $box 2] + $pad) / double($column)))}]
    set cols {}
    for {set c $first} {$c <= $last} {incr c} {
        lappend cols $c
    }
    return $cols
}

# Returns a dict {kept LIST dropped N}: the labels kept, each {ID BOX} in
# the order they were placed, and the number of sticks left without one.
#
# STICKS are dicts with the keys id, x (the stick's pixel column), y (the
# pixel row of its top), w and h (the label's size in pixels), group, tt
# and mult (see order). A label is centred on its stick, its bottom GAP
# pixels above the stick's top; where that place is taken it may go up by
# its own height plus 5 GAP, up to TIERS places in all. Two labels one
# above the other keep 5 GAP apart, whichever sticks they belong to (so
# that they read as two), two side by side GAP. A
# stick with the key ceiling keeps its label below that pixel row (the
# foot of the tick row above its own). A label must lie
# within the box BOUNDS (the plot area), and keep at least GAP pixels from
# every box of TAKEN (title, legend) and from every label kept before it;
# the first place that does is its place, else it is dropped.
proc ::peakview::labels::layout {sticks taken bounds {tiers 1} {gap 2}} {
    set items [lmap stick [order $sticks] {
        list [dict get $stick id] [dict get $stick x] [dict get $stick y] [dict get $stick w] \
            [dict get $stick h] [expr {[dict exists $stick ceiling] ? [dict get $stick ceiling] : "-Inf"}]
    }]
    return [place $items $taken $bounds $tiers $gap]
}

# Returns what layout returns, for ITEMS in the order their labels are
# placed, each {id x y w h ceiling} (ceiling -Inf for none).
#
# Where the sticks crowd, most labels find their places taken; a label
# whose lowest place is beside a label kept there before, of the same
# width and with its foot on the same row (the tick row of its phase), is
# known to be blocked there from the nearest such label alone, found by a
# binary search: the place is tested box by box only where that does not
# tell.
proc ::peakview::labels::place {items taken bounds tiers gap} {
    if {[compiled]} {
        return [placeCompiled $items $taken $bounds $tiers $gap]
    }
    return [placeScript $items $taken $bounds $tiers $gap]
}

# Returns 1 where the layout's compiled commands (placeCompiled and
# arrangeCompiled, in peakview's Tcl extension, src/peakview/labels.cpp)
# are there, else 0: they keep the same labels as the procedures here, in
# a fraction of the time. The variable compiled holds the answer once
# known (the tests set it to 0 to run the procedures here).
proc ::peakview::labels::compiled {} {
    variable compiled
    if {![info exists compiled]} {
        set compiled [expr {![catch {package require peakview::reader}]
                            && [llength [info commands ::peakview::labels::placeCompiled]] > 0}]
    }
    return $compiled
}

# What place returns, computed here.
proc ::peakview::labels::placeScript {items taken bounds tiers gap} {
    variable column
    lassign $bounds bx0 by0 bx1 by1
    # One label over another (upright, end to end) keeps the tiers' gap
    # from it, so that the two never read as one ("1 -1 0" over "0 2 0"
    # as "1-10020"); side by side, GAP.
    set apart [expr {5 * $gap}]
    # The boxes placed so far (taken ones first), by the columns they
    # reach into, GAP included.
    array set placed {}
    # (A taken box carries a fifth word: the tiers' gap is between labels.)
    foreach box $taken {
        foreach c [columns $box $gap] {
            lappend placed($c) [linsert $box end taken]
        }
    }
    # The centres of the labels kept, in ascending order, by their tier,
    # foot and width (and above the lowest tier, length).
    array set centres {}
    set kept {}
    set dropped 0
    foreach item $items {
        lassign $item id x y w h ceiling
        set x0 [expr {$x - $w / 2.0}]
        set x1 [expr {$x0 + $w}]
        set top [expr {max($by0, $ceiling)}]
        set found ""
        set cols ""
        if {$x0 >= $bx0 && $x1 <= $bx1} {
            for {set t 0} {$t < $tiers && $found eq ""} {incr t} {
                set y1 [expr {$y - $gap - $t * ($h + 5 * $gap)}]
                set y0 [expr {$y1 - $h}]
                if {$y0 < $top || $y1 > $by1} {
                    continue
                }
                # Labels of one foot and width in the lowest tier, or of one
                # foot, width and length in a higher one, stand at one
                # height: the nearest such label alone says whether this
                # place is free.
                set key [expr {$t == 0 ? "0,$y,$w" : "$t,$y,$w,$h"}]
                if {[info exists centres($key)]} {
                    set cs $centres($key)
                    set i [lsearch -sorted -real -bisect $cs $x]
                    set reach [expr {$w + $gap}]
                    if {($i >= 0 && $x - [lindex $cs $i] < $reach)
                        || ($i + 1 < [llength $cs] && [lindex $cs $i+1] - $x < $reach)} {
                        continue
                    }
                }
                set found [list $x0 $y0 $x1 $y1]
                if {$cols eq ""} { set cols [columns [list $x0 0 $x1 0] $gap] }
                foreach c $cols {
                    if {![info exists placed($c)]} {
                        continue
                    }
                    foreach other $placed($c) {
                        lassign $other ox0 oy0 ox1 oy1 kind
                        set sep [expr {$kind eq "taken" ? $gap : $apart}]
                        if {$x0 < $ox1 + $gap && $ox0 < $x1 + $gap
                            && $y0 < $oy1 + $sep && $oy0 < $y1 + $sep} {
                            set found ""
                            break
                        }
                    }
                    if {$found eq ""} {
                        break
                    }
                }
            }
        }
        if {$found eq ""} {
            incr dropped
            continue
        }
        foreach c $cols {
            lappend placed($c) $found
        }
        # (t has gone one past the tier the label was placed in.)
        set key [expr {$t == 1 ? "0,$y,$w" : "[expr {$t - 1}],$y,$w,$h"}]
        set cs [expr {[info exists centres($key)] ? $centres($key) : {}}]
        set centres($key) [linsert $cs [expr {[lsearch -sorted -real -bisect $cs $x] + 1}] $x]
        lappend kept [list $id $found]
    }
    return [dict create kept $kept dropped $dropped]
}

# Returns the sticks to label (dicts for draw) of PHASES (phase records
# with hkl lists) as the plot's LAYOUT draws them: the allowed sticks, and
# with WHICH "all" the forbidden ones too where they are shown. Each label
# stands over the top of its stick, or in a tick row under the measured
# pattern over the top of the row (a forbidden tick is the shorter), in
# the phase's own colour (its lighter tint is too pale for text); sticks
# whose indices are unknown get none. A stick drawn alone with its
# intensity known has it in its label; a tick row's band has no room for
# it.
proc ::peakview::labels::sticks {phases layout which} {
    set elements [dict create]
    foreach e [dict get $layout elements] {
        dict set elements [dict get $e name] $e
    }
    set kinds [expr {$which eq "all" ? {allowed extinct} : {allowed}}]
    set found {}
    set k 0
    foreach phase $phases {
        # The top of each mark by its x (the higher of its two ends), and
        # of the whole tick row where the phase is one.
        set tops [dict create]
        set rowTop ""
        foreach kind {allowed extinct} {
            if {![dict exists $elements $kind$k]} {
                continue
            }
            set e [dict get $elements $kind$k]
            foreach {x1 -} [dict get $e x] {y1 y2} [dict get $e y] {
                set top [expr {max($y1, $y2)}]
                if {![dict exists $tops $x1] || [dict get $tops $x1] < $top} {
                    dict set tops $x1 $top
                }
                if {[dict exists $e ceiling] && ($rowTop eq "" || $rowTop < $top)} {
                    set rowTop $top
                }
            }
        }
        set hkls [dict get $phase hkl]
        set mults [dict get $phase multiplicity]
        set strengths [expr {[dict exists $phase intensity] ? [dict get $phase intensity] : {}}]
        foreach kind $kinds {
            if {![dict exists $elements $kind$k]} {
                continue
            }
            set e [dict get $elements $kind$k]
            foreach x [dict get $phase $kind x] i [dict get $phase $kind index] {
                if {$i eq "" || [lindex $hkls $i] eq "" || ![dict exists $tops $x]} {
                    continue
                }
                set stick [dict create id $k.$kind.$i x $x \
                    y [expr {$rowTop eq "" ? [dict get $tops $x] : $rowTop}] \
                    axis [dict get $e axis] \
                    text [text {*}[lindex $hkls $i] [expr {[dict exists $e ceiling] ? "" : [lindex $strengths $i]}]] \
                    colour [dict get $phase colour] group $k tt [lindex [dict get $phase tt] $i] \
                    mult [lindex $mults $i] intensity [lindex $strengths $i] \
                    forbidden [expr {$kind eq "extinct"}]]
                if {[dict exists $e ceiling]} {
                    dict set stick ceiling [dict get $e ceiling]
                    dict set stick row $k
                }
                lappend found $stick
            }
        }
        incr k
    }
    return $found
}

# Returns the width in pixels of TEXT in FONT: the sum of its characters'
# widths, each measured once (measuring a whole text takes a third of a
# millisecond, too long for thousands of labels; digits, signs and blanks
# are not kerned).
proc ::peakview::labels::width {font text} {
    variable widths
    set sum 0
    foreach c [split $text ""] {
        if {![info exists widths($font,$c)]} {
            set widths($font,$c) [font measure $font $c]
        }
        incr sum $widths($font,$c)
    }
    return $sum
}

# Returns the line that says how many of the labels were dropped.
proc ::peakview::labels::note {dropped total} {
    return "$dropped of $total labels dropped where the sticks crowd"
}

# Returns the layout result (see layout) of the labels it draws on the BLT
# graph G as text markers, after deleting those it drew before: one
# label over each stick of STICKS, dicts with the keys id, x and y (the
# stick's position and the top of its mark, in the coordinates of the x
# axis and of the axis named by the key axis, y where it is absent), text,
# colour, group, tt and mult, and where it has one ceiling (in the same y
# coordinates). Where ROWS (the tick rows' geometry from
# peakview::plot::rowGeometry) is given, a stick with the key row takes
# its y and its ceiling from its row there, as the rows stand after a
# zoom. Labels stand upright (rotated a quarter
# turn, as powder plots label their tick marks), in FONT. They keep within
# the plot area and clear of the title, of the legend and of the line that
# says how many were dropped, drawn in the top left corner of the plot
# area where there are any. Sticks outside the shown x range take part in
# nothing.
proc ::peakview::labels::draw {g sticks font {tiers 2} {gap 2} {rows {}}} {
    return [drawPlan $g [plan $sticks $font] $font $tiers $gap $rows]
}

# Returns the sticks of STICKS (as for draw) made ready for drawPlan in
# FONT: a list of groups, each a dict {xs LIST items LIST texts DICT row
# ROW}, its sticks in ascending x (xs their x) and each item {order x y
# axis row ceiling h id text colour}, order its place in the order of the
# labels (see order), h the label's length in pixels, row and ceiling ""
# where there is none; texts gives each id's {text colour}, row the tick
# row of all the group's sticks ("" where they are in none or in several).
# Made once, so that a zoom finds the sticks it shows by a binary search
# and lays out their labels without measuring them again.
proc ::peakview::labels::plan {sticks font} {
    set byGroup [dict create]
    set k 0
    foreach stick [order $sticks] {
        dict lappend byGroup [dict get $stick group] [list [incr k] [dict get $stick x] [dict get $stick y] \
            [expr {[dict exists $stick axis] ? [dict get $stick axis] : "y"}] \
            [expr {[dict exists $stick row] ? [dict get $stick row] : ""}] \
            [expr {[dict exists $stick ceiling] ? [dict get $stick ceiling] : ""}] \
            [width $font [dict get $stick text]] [dict get $stick id] [dict get $stick text] \
            [dict get $stick colour]]
    }
    set groups {}
    dict for {group items} $byGroup {
        set items [lsort -real -index 1 $items]
        set texts [dict create]
        foreach item $items { dict set texts [lindex $item 7] [lrange $item 8 9] }
        # The tick row all its sticks stand in, where they do.
        set rows [lsort -unique [lmap item $items { lindex $item 4 }]]
        lappend groups [dict create xs [lmap item $items { lindex $item 1 }] items $items \
                            texts $texts row [expr {[llength $rows] == 1 ? [lindex $rows 0] : ""}]]
    }
    return $groups
}

# Returns the layout result (see layout) of the labels of PLAN (from plan)
# in one view: of each group the sticks from index first to last of its
# span in SPANS ({first last}, one a group), each laid out in the plot's
# pixels by VIEW, a dict: ax and bx (a stick's pixel column is bx + ax x),
# scale and base (by y axis: a row is base + scale y), rows (each tick
# row's top and ceiling in pixels, {} for none), py0 (the plot area's top)
# and height (a label's width on the screen, upright). A label too long
# for the room above its stick in its lowest place has no higher one
# either: counted as dropped before the layout. The groups take turns
# (their first sticks in the order of the labels, then their second...).
proc ::peakview::labels::arrange {plan spans view taken bounds tiers gap} {
    if {[compiled]} {
        return [arrangeCompiled $plan $spans $view $taken $bounds $tiers $gap]
    }
    return [arrangeScript $plan $spans $view $taken $bounds $tiers $gap]
}

# What arrange returns, computed here.
proc ::peakview::labels::arrangeScript {plan spans view taken bounds tiers gap} {
    dict with view {
        array set scales $scale
        array set bases $base
        set rowPixels $rows
    }
    set ranked {}
    set short 0
    foreach group $plan span $spans {
        lassign $span first last
        set shown [lsort -integer -index 0 [lrange [dict get $group items] $first $last]]
        set row [dict get $group row]
        set rank 0
        if {$row ne "" && [llength $rowPixels] > 0} {
            # All in one tick row: one foot, one ceiling, one longest label.
            lassign [lindex $rowPixels $row] py cy
            set longest [expr {$py - $gap - max($py0, $cy)}]
            foreach item $shown {
                lassign $item order x - - - - h id
                if {$h > $longest} {
                    incr short
                } else {
                    lappend ranked [list [expr {$rank * 10000000 + $order}] $id [expr {$bx + $ax * $x}] \
                                        $py $height $h $cy]
                }
                incr rank
            }
        } else {
            foreach item $shown {
                lassign $item order x y axis row ceiling h id
                if {$row ne "" && [llength $rowPixels] > 0} {
                    lassign [lindex $rowPixels $row] py cy
                } else {
                    set py [expr {$bases($axis) + $scales($axis) * $y}]
                    set cy [expr {$ceiling eq "" ? "-Inf" : $bases($axis) + $scales($axis) * $ceiling}]
                }
                if {$py - $gap - $h < max($py0, $cy)} {
                    incr short
                } else {
                    lappend ranked [list [expr {$rank * 10000000 + $order}] $id [expr {$bx + $ax * $x}] \
                                        $py $height $h $cy]
                }
                incr rank
            }
        }
    }
    # Ranks first, then the order of the labels: one key.
    set items [lmap r [lsort -integer -index 0 $ranked] { lrange $r 1 end }]
    set result [placeScript $items $taken $bounds $tiers $gap]
    dict incr result dropped $short
    return $result
}

# Returns the layout result of the labels of PLAN (from plan) that it
# draws on G, as draw does. FIRST is false where G has been laid out anew
# since it was first drawn (after a zoom): one redraw less.
proc ::peakview::labels::drawPlan {g plan font {tiers 2} {gap 2} {rows {}} {first 1}} {
    variable rotatedText
    # The labels before go first, so that the redraw below does not draw
    # them again (rotated text is slow to draw).
    set before [$g marker names peakview-label*]
    if {[llength $before] > 0} { $g marker delete {*}$before }
    # BLT lays a graph out anew, a few pixels differently from its first
    # layout, once an axis or a marker changes: have it do so now, so that
    # the labels are measured on the layout that is drawn.
    # After a zoom (FIRST false) the graph's redraw for the new view is
    # usually done already (later runs after it): then this costs nothing.
    if {$first} { $g axis configure x -min [$g axis cget x -min] }
    update idletasks
    lassign [$g axis limits x] xmin xmax
    lassign [$g axis limits y] ymin ymax
    lassign [$g transform $xmin $ymax] px0 py0
    lassign [$g transform $xmax $ymin] px1 py1
    set bounds [list $px0 $py0 $px1 $py1]
    if {!$rotatedText} {
        # An image is a pixel or two longer than its text, and BLT draws an
        # image marker cut by the plot area's edge again and again without
        # end: the images stay clear of the edge.
        set bounds [list [expr {$px0 + 3}] [expr {$py0 + 3}] [expr {$px1 - 3}] [expr {$py1 - 3}]]
    }
    # The axes are linear: a stick's pixel is a product and a sum.
    set ax [expr {($px1 - $px0) / double($xmax - $xmin)}]
    set bx [expr {$px0 - $ax * $xmin}]
    foreach axis {y y2} {
        lassign [$g axis limits $axis] lo hi
        set a0 [$g axis transform $axis $lo]
        set scale($axis) [expr {$hi == $lo ? 0.0 : ([$g axis transform $axis $hi] - $a0) / double($hi - $lo)}]
        set base($axis) [expr {$a0 - $scale($axis) * $lo}]
    }
    set taken {}
    lassign [$g extents legend] lx ly lw lh
    if {$lw > 0 && $lh > 0} {
        lappend taken [list $lx $ly [expr {$lx + $lw}] [expr {$ly + $lh}]]
    }
    set title [$g cget -title]
    if {$title ne ""} {
        set tw [font measure [$g cget -font] $title]
        set cx [expr {([winfo width $g] - $tw) / 2.0}]
        lappend taken [list $cx 0 [expr {$cx + $tw}] [$g extents topmargin]]
    }
    # Upright: the width on the screen is the line height.
    set height [font metrics $font -linespace]
    # Each tick row's top and ceiling in pixels, as the rows stand now.
    set rowPixels {}
    if {[llength $rows] > 0} {
        foreach place [dict get $rows rows] {
            lassign $place top - ceiling
            lappend rowPixels [list [expr {$base(y) + $scale(y) * $top}] [expr {$base(y) + $scale(y) * $ceiling}]]
        }
    }
    # The sticks shown: by group, the first and the last of them.
    set spans {}
    set total 0
    foreach group $plan {
        set xs [dict get $group xs]
        set first [lsearch -sorted -real -bisect $xs $xmin]
        if {$first < 0 || [lindex $xs $first] < $xmin} { incr first }
        # (Sticks at one x as xmin all count.)
        while {$first > 0 && [lindex $xs $first-1] >= $xmin} { incr first -1 }
        set last [lsearch -sorted -real -bisect $xs $xmax]
        lappend spans [list $first $last]
        incr total [expr {max(0, $last - $first + 1)}]
    }
    # The line on the dropped labels has its place kept before the labels
    # take theirs (it is drawn only where some are dropped).
    set widest [font measure $font [note $total $total]]
    lappend taken [list [expr {$px0 + 4}] [expr {$py0 + 4}] [expr {$px0 + 4 + $widest}] \
                       [expr {$py0 + 4 + $height}]]
    set view [dict create ax $ax bx $bx py0 $py0 height $height scale [array get scale] \
                  base [array get base] rows $rowPixels]
    set result [arrange $plan $spans $view $taken $bounds $tiers $gap]
    set n 0
    variable made
    variable labelTexts
    variable rotatedText
    set asText $rotatedText
    set labelTexts($g) [dict create]
    set wanted {}
    set placed {}
    foreach kept [dict get $result kept] {
        lassign $kept id box
        lassign $box x0 y0 x1 y1
        foreach group $plan {
            if {[dict exists $group texts $id]} {
                lassign [dict get $group texts $id] text colour
                break
            }
        }
        set name peakview-label[incr n]
        set coords [$g invtransform [expr {($x0 + $x1) / 2.0}] [expr {($y0 + $y1) / 2.0}]]
        if {$asText} {
            $g marker create text -name $name -text $text \
                -rotate 90 -anchor center -padx 0 -pady 0 -font $font -foreground $colour -coords $coords
        } else {
            lappend wanted [list $text $colour]
            lappend placed [list $name $coords $text $colour]
        }
        dict set labelTexts($g) $name $text
    }
    if {!$asText} {
        images $font $wanted
        # The line's room below the letters is on the image's right: the
        # ink centred on the stick.
        set shift [expr {[font metrics $font -descent] / 2}]
        foreach p $placed {
            lassign $p name coords text colour
            $g marker create image -name $name -image [dict get $made [list $font $text $colour]] \
                -anchor center -coords $coords -xoffset $shift
        }
    }
    set dropped [dict get $result dropped]
    if {$dropped > 0} {
        $g marker create text -name peakview-label-dropped -anchor nw -padx 0 -pady 0 -font $font \
            -text [note $dropped $total] \
            -coords [$g invtransform {*}[lrange [lindex $taken end] 0 1]]
    }
    return $result
}

# Returns the text of the label that G shows as the marker NAME.
proc ::peakview::labels::textOf {g name} {
    variable labelTexts
    if {[info exists labelTexts($g)] && [dict exists $labelTexts($g) $name]} {
        return [dict get $labelTexts($g) $name]
    }
    return [$g marker cget $name -text]
}

# Returns nothing; makes the upright image of each label of WANTED (pairs
# {TEXT COLOUR}) in FONT that is not made yet: BLT draws rotated text
# slowly (a few milliseconds a label, at every redraw), an image fast.
# The texts are written, level, on a graph of their own that is never
# shown, taken from it as a picture in one go, then each cut out, turned
# a quarter turn and its white made transparent. Kept for the session
# (made, by {FONT TEXT COLOUR}).
proc ::peakview::labels::images {font wanted} {
    variable made
    variable maker
    set todo {}
    foreach pair $wanted {
        lassign $pair text colour
        if {![dict exists $made [list $font $text $colour]] && [list $text $colour] ni $todo} {
            lappend todo [list $text $colour]
        }
    }
    if {[llength $todo] == 0} return
    set g [labelMaker]
    lassign [dict get $maker size] width height
    lassign [dict get $maker origin] ox oy
    set line [font metrics $font -linespace]
    set rows [expr {($height - 8) / $line}]
    while {[llength $todo] > 0} {
        # As many as fit in columns as wide as the widest.
        set widths [lmap pair $todo { expr {[width $font [lindex $pair 0]] + 4} }]
        set column [lindex [lsort -integer $widths] end]
        set columns [expr {max(1, ($width - 8) / $column)}]
        set batch [lrange $todo 0 [expr {$rows * $columns - 1}]]
        set todo [lrange $todo [llength $batch] end]
        $g marker delete {*}[$g marker names]
        # The graph is never mapped: once Tk is idle, BLT lays it out for a
        # window a pixel wide, and places markers where that layout puts
        # them. A picture of the sheet's size first, so that the texts are
        # placed on the layout they are drawn on: each from the top left
        # corner of the plot area, by its offset in pixels (coordinates
        # would be taken on the layout of the moment).
        set sheet [image create photo]
        $g snap -width $width -height $height $sheet
        set places {}
        set k 0
        foreach pair $batch {
            lassign $pair text colour
            set px [expr {4 + ($k / $rows) * $column}]
            set py [expr {4 + ($k % $rows) * $line}]
            $g marker create text -text $text -anchor nw -padx 0 -pady 0 -font $font \
                -foreground $colour -background "" -coords {-Inf Inf} \
                -xoffset [expr {$px - $ox}] -yoffset [expr {$py - $oy}]
            lappend places [list $px $py [expr {min([width $font $text] + 2, $column)}]]
            incr k
        }
        $g snap -width $width -height $height $sheet
        # The whole sheet turned a quarter turn at once; each label cut out
        # of it (a point x, y of the level sheet, W wide, is at y, W - 1 - x
        # on the turned one), and its white made transparent (on the whole
        # sheet that takes 50 to 70 ms, on 150 labels 3).
        set turned [image create photo]
        blt::winop image rotate $sheet $turned 90
        set sheetWidth [image width $sheet]
        foreach pair $batch place $places {
            lassign $pair text colour
            lassign $place px py w
            # (Within the sheet, whatever BLT made of its size.)
            set w [expr {max(1, min($w, $sheetWidth - $px))}]
            set tall [expr {max(1, min($line, [image height $sheet] - $py))}]
            set upright [image create photo -width $tall -height $w]
            $upright copy $turned -from $py [expr {$sheetWidth - $px - $w}] [expr {$py + $tall}] [expr {$sheetWidth - $px}]
            blt::winop image alpha $upright $upright #ffffff 0
            dict set made [list $font $text $colour] $upright
        }
        image delete $sheet $turned
    }
}

# Returns the graph on which the label images are made: never mapped, of
# a fixed size, laid out once (its pixels and its coordinates are one).
proc ::peakview::labels::labelMaker {} {
    variable maker
    if {[dict exists $maker graph] && [winfo exists [dict get $maker graph]]} {
        return [dict get $maker graph]
    }
    lassign [dict get $maker size] width height
    if {![winfo exists .peakviewLabels]} {
        toplevel .peakviewLabels
        wm withdraw .peakviewLabels
    }
    set g [blt::graph .peakviewLabels.g -width $width -height $height -title "" -background white \
               -plotbackground white -borderwidth 0 -plotborderwidth 0 -plotrelief flat \
               -leftmargin 1 -rightmargin 1 -topmargin 1 -bottommargin 1 -plotpadx 0 -plotpady 0 \
               -highlightthickness 0]
    foreach axis {x y} limit [list $width $height] {
        $g axis configure $axis -hide yes -min 0 -max $limit
    }
    $g legend configure -hide yes
    # A first picture lays it out: the top left corner of its plot area
    # (the margins') is where the texts are placed from (see images).
    set img [image create photo]
    $g snap -width $width -height $height $img
    image delete $img
    dict set maker origin [lrange [$g extents plotarea] 0 1]
    dict set maker graph $g
    return $g
}

# Returns nothing; in the window, draws the labels of STICKS on G in FONT
# again whenever the graph changes size, and whenever later is called (by
# the zoom, once the new limits are set), with the tick rows where the
# plot last placed them (peakview::plot::rows).
proc ::peakview::labels::follow {g sticks font} {
    variable following
    set following($g) [list [plan $sticks $font] $font]
    # (Once: the sticks change when the intensities are switched.)
    set script [list ::peakview::labels::later $g]
    if {[string first $script [bind $g <Configure>]] < 0} {
        bind $g <Configure> +$script
    }
}

# Returns nothing; draws the labels of G that follow is keeping, at the
# next idle moment (once for any number of calls before it), after the
# graph's own redraw for the change that called it.
proc ::peakview::labels::later {g} {
    variable pending
    if {[info exists pending($g)]} {
        return
    }
    # The labels of the view before go at once: the graph's redraw for the
    # new view neither draws them nor finds them past its edges.
    set before [$g marker names peakview-label*]
    if {[llength $before] > 0} { $g marker delete {*}$before }
    set pending($g) [after idle [list apply {{g} {
        variable following
        variable pending
        unset pending($g)
        if {[winfo exists $g]} {
            lassign $following($g) plan font
            set rows [expr {[info exists ::peakview::plot::rows($g)] ? $::peakview::plot::rows($g) : {}}]
            # (An error here is said, not left to Tk's dialog.)
            if {[catch {drawPlan $g $plan $font 2 2 $rows 0} msg]} {
                puts stderr "peakview: the labels could not be laid out: $msg"
            }
        }
    } ::peakview::labels} $g]]
}
