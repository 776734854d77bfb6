# The readout: which sticks lie near a 2θ, and what the phase records know
# of them. The window calls these with the pointer's position; the tests
# call them without a window.
#
#   peakview::readout::near PHASES X TOLERANCE     the sticks within TOLERANCE of X
#   peakview::readout::describe STICK               one line of text for a stick
#   peakview::readout::pointer X Y                  the pointer's own line

namespace eval ::peakview::readout {}

# Returns the sticks of PHASES whose x lies within TOLERANCE (in degrees)
# of X, nearest first: one dict per stick with phase (the name word),
# colour, kind (allowed or extinct), x (where it is drawn), index (its
# position in the phase's lists, "" when unmatched), tt and d (the lists'
# own text, "" when unmatched), hkl and multiplicity (from a phase whose
# indices are known, else "") and distance. Reflections at one 2θ are
# each a stick of their own, all listed.
proc ::peakview::readout::near {phases x tolerance} {
    set found {}
    foreach phase $phases {
        foreach kind {allowed extinct} {
            set sticks [dict get $phase $kind]
            set indices [dict get $sticks index]
            set hkls [expr {[dict exists $phase hkl] ? [dict get $phase hkl] : {}}]
            set mults [expr {[dict exists $phase multiplicity] ? [dict get $phase multiplicity] : {}}]
            set k -1
            foreach sx [dict get $sticks x] {
                incr k
                set distance [expr {abs($sx - $x)}]
                if {$distance > $tolerance} continue
                set index [lindex $indices $k]
                lappend found [dict create phase [dict get $phase name] \
                    colour [dict get $phase colour] kind $kind x $sx index $index \
                    tt [lindex [dict get $phase tt] $index] d [lindex [dict get $phase d] $index] \
                    hkl [expr {$index eq "" ? "" : [lindex $hkls $index]}] \
                    multiplicity [expr {$index eq "" ? "" : [lindex $mults $index]}] \
                    distance $distance]
            }
        }
    }
    return [lsort -command [list apply {{a b} {
        expr {[dict get $a distance] < [dict get $b distance] ? -1 : [dict get $a distance] > [dict get $b distance]}
    }}] $found]
}

# Returns one line on STICK (a dict from near): its phase, its h k l
# where known (with the multiplicity where peakhkl gave it), 2θ and d.
proc ::peakview::readout::describe {stick} {
    set name [dict get $stick phase]
    set text "[expr {$name eq "" ? "(unnamed)" : $name}]"
    if {[dict get $stick kind] eq "extinct"} { append text " (forbidden)" }
    if {[dict get $stick index] eq ""} {
        return "$text: stick at 2θ [format %.4f [dict get $stick x]]°"
    }
    append text ": "
    if {[dict exists $stick hkl] && [dict get $stick hkl] ne ""} {
        append text [dict get $stick hkl]
        if {[dict get $stick multiplicity] ne ""} {
            append text " (multiplicity [dict get $stick multiplicity])"
        }
        append text ", "
    }
    return "${text}2θ [string trim [dict get $stick tt]]°, d [string trim [dict get $stick d]] Å"
}

# Returns the readout of the pointer at X (2θ) and Y (intensity).
proc ::peakview::readout::pointer {x y} {
    return [format "2θ %.4f°  intensity %.6g" $x $y]
}
