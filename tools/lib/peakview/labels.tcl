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
}

# Returns the label of a reflection: its indices separated by blanks
# ("1 1 0", "-2 1 3").
proc ::peakview::labels::text {h k l} {
    return "$h $k $l"
}

# Returns the sticks (dicts with at least the keys group, tt and mult)
# sorted in the order their labels are placed: within a group (a phase),
# the lower 2-theta first, except that in a group whose multiplicities are
# known (mult not empty, from peakhkl's table) the higher multiplicity
# comes first and the lower 2-theta breaks ties. Groups take turns: the
# first stick of every group, then the second of every group, and so on,
# so that a crowded phase cannot take every place from another.
proc ::peakview::labels::order {sticks} {
    set keyed {}
    set i 0
    foreach stick $sticks {
        set mult [dict get $stick mult]
        lappend keyed [list [dict get $stick group] [expr {$mult eq "" ? 0 : -$mult}] \
                           [dict get $stick tt] $i]
        incr i
    }
    # lsort is stable: sorting by the least significant key first leaves
    # each group sorted by multiplicity, then 2-theta.
    set keyed [lsort -real -index 2 $keyed]
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
        lappend ranked [list $rank [lindex $key 3]]
        incr rank
    }
    return [lmap key [lsort -integer -index 0 $ranked] { lindex $sticks [lindex $key 1] }]
}

# Returns 1 when the boxes A and B come closer than SEP pixels (or
# overlap), else 0.
proc ::peakview::labels::near {a b sep} {
    lassign $a ax0 ay0 ax1 ay1
    lassign $b bx0 by0 bx1 by1
    return [expr {$ax0 < $bx1 + $sep && $bx0 < $ax1 + $sep
                  && $ay0 < $by1 + $sep && $by0 < $ay1 + $sep}]
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
# its own height plus GAP, up to TIERS places in all. A label must lie
# within the box BOUNDS (the plot area), and keep at least GAP pixels from
# every box of TAKEN (title, legend) and from every label kept before it;
# the first place that does is its place, else it is dropped.
proc ::peakview::labels::layout {sticks taken bounds {tiers 1} {gap 2}} {
    lassign $bounds bx0 by0 bx1 by1
    set placed [dict create]
    foreach box $taken {
        foreach c [columns $box $gap] {
            dict lappend placed $c $box
        }
    }
    set kept {}
    set dropped 0
    foreach stick [order $sticks] {
        dict with stick {}
        set x0 [expr {$x - $w / 2.0}]
        set x1 [expr {$x0 + $w}]
        set found ""
        for {set t 0} {$t < $tiers && $found eq ""} {incr t} {
            set y1 [expr {$y - $gap - $t * ($h + $gap)}]
            set box [list $x0 [expr {$y1 - $h}] $x1 $y1]
            if {$x0 < $bx0 || $x1 > $bx1 || $y1 - $h < $by0 || $y1 > $by1} {
                continue
            }
            set free 1
            foreach c [columns $box $gap] {
                if {![dict exists $placed $c]} {
                    continue
                }
                foreach other [dict get $placed $c] {
                    if {[near $box $other $gap]} {
                        set free 0
                        break
                    }
                }
                if {!$free} {
                    break
                }
            }
            if {$free} {
                set found $box
            }
        }
        if {$found eq ""} {
            incr dropped
            continue
        }
        foreach c [columns $found $gap] {
            dict lappend placed $c $found
        }
        lappend kept [list $id $found]
    }
    return [dict create kept $kept dropped $dropped]
}
