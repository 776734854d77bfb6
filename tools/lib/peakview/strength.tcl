# How strong each stick is, and the sticks as a table: the intensities
# peakhkl gives a crystal's reflections, the weak ones left out, the Kα2
# companions of a Kα1 pattern, and the table of what is drawn. Nothing
# here needs a window.
#
#   peakview::strength::known PHASE                 true where PHASE has intensities
#   peakview::strength::of PHASE KIND               each stick's intensity ("" unknown)
#   peakview::strength::thin PHASES PCT             PHASES without the weak allowed sticks
#   peakview::strength::companions PHASE LAMBDA2    the Kα2 sticks of PHASE's allowed ones
#   peakview::strength::attach PHASES SECONDS       the phases with their Kα2 sticks
#   peakview::strength::displace PHASES S R         CIF phases' sticks moved by a specimen displacement
#   peakview::strength::coincident XS               the sticks at one 2θ, grouped
#   peakview::strength::summed XS HEIGHTS           one stick per 2θ, of the summed height
#   peakview::strength::kalpha2 WAVE NAMED          λ(Kα2) for the line WAVE, or ""
#   peakview::strength::common PHASES               the phases' one wavelength, or ""
#   peakview::strength::table PHASES ?EXTINCT XMIN XMAX?   the rows of the table of the sticks
#   peakview::strength::text ROWS                   the table's text (UTF-8 bytes)
#   peakview::strength::write FILE PHASES ?EXTINCT XMIN XMAX?   the table written to FILE

package require peakview::guard

namespace eval ::peakview::strength {
    variable header {phase h k l d 2theta multiplicity intensity extinct line}
    # Reflections of one phase closer than this (degrees) are one stick:
    # in cubic and other high-symmetry groups several sets coincide.
    variable together 1e-4
}

# Returns the positions in XS (2θ of sticks, in any order) grouped by
# where they coincide: a list of lists of positions, in ascending 2θ, each
# group the sticks within `together` of its lowest.
proc ::peakview::strength::coincident {xs} {
    variable together
    set groups {}
    set start ""
    foreach k [lsort -real -indices $xs] {
        set x [lindex $xs $k]
        if {$start ne "" && $x - $start <= $together} {
            lset groups end [linsert [lindex $groups end] end $k]
        } else {
            set start $x
            lappend groups [list $k]
        }
    }
    return $groups
}

# Returns {XS HEIGHTS}: one stick for each group of coincident sticks of
# XS (see coincident) at the group's first 2θ, as high as the sum of the
# HEIGHTS that are known ("" where none is), in ascending 2θ.
proc ::peakview::strength::summed {xs heights} {
    set sx {}
    set sh {}
    foreach group [coincident $xs] {
        lappend sx [lindex $xs [lindex $group 0]]
        set sum ""
        foreach k $group {
            set h [lindex $heights $k]
            if {$h ne ""} { set sum [expr {($sum eq "" ? 0.0 : $sum) + $h}] }
        }
        lappend sh $sum
    }
    return [list $sx $sh]
}

# Returns true when PHASE (a phase record) knows the intensity of its
# reflections (a CIF with atoms, through peakhkl's table).
proc ::peakview::strength::known {phase} {
    if {![dict exists $phase intensity]} { return 0 }
    return [expr {[llength [lsearch -all -exact -not [dict get $phase intensity] ""]] > 0}]
}

# Returns the intensity of each stick of PHASE of KIND (allowed or
# extinct), in the order of its sticks: "" where it is not known.
proc ::peakview::strength::of {phase kind} {
    set list [expr {[dict exists $phase intensity] ? [dict get $phase intensity] : {}}]
    return [lmap i [dict get $phase $kind index] {
        expr {$i eq "" ? "" : [lindex $list $i]}
    }]
}

# Returns PHASES with the allowed sticks whose intensity is below PCT
# percent of their phase's strongest taken out (phases without
# intensities stay whole); nallowed counts what is left, nweak what went.
proc ::peakview::strength::thin {phases pct} {
    lmap phase $phases {
        dict set phase nweak 0
        if {![known $phase] || $pct <= 0} { set phase }
        set heights [of $phase allowed]
        set strongest [lindex [lsort -real [lsearch -all -inline -exact -not $heights ""]] end]
        set keep {}
        set k 0
        foreach h $heights {
            if {$h eq "" || $h >= $pct / 100.0 * $strongest} { lappend keep $k }
            incr k
        }
        set sticks [dict get $phase allowed]
        foreach key {x ylo yhi index} {
            set all [dict get $sticks $key]
            dict set sticks $key [lmap k $keep { lindex $all $k }]
        }
        dict set phase allowed $sticks
        dict set phase nweak [expr {[dict get $phase nallowed] - [llength $keep]}]
        dict set phase nallowed [llength $keep]
        set phase
    }
}

# Returns the wavelength (Å) of the Kα2 line that goes with WAVE, where
# WAVE names a Kα1 line (CuKa1, in any case): the value NAMED (a dict
# from peakhkl --waves) holds for the same name with 2 for 1; else "".
proc ::peakview::strength::kalpha2 {wave named} {
    if {![regexp -nocase {^([a-z]+ka)1$} $wave -> line]} { return "" }
    dict for {name value} $named {
        if {[string equal -nocase $name ${line}2]} { return $value }
    }
    return ""
}

# Returns {COMMON WAVELENGTHS}: the wavelength all PHASES share (within
# 1e-4 of it; "" where they differ or none is known) and the distinct
# wavelengths they have, in ascending order.
proc ::peakview::strength::common {phases} {
    set wavelengths [lsort -unique -real [lsearch -all -inline -not -exact \
                                               [lmap p $phases { dict get $p wavelength }] ""]]
    set common ""
    if {[llength $wavelengths] > 0
        && [lindex $wavelengths end] - [lindex $wavelengths 0] <= 1e-4 * [lindex $wavelengths 0]} {
        set common [lindex $wavelengths 0]
    }
    return [list $common $wavelengths]
}

# Returns the Kα2 companion of each allowed stick of PHASE for the
# wavelength LAMBDA2: a dict {x LIST index LIST intensity LIST}, the
# companion of a reflection of spacing d at 2θ = 2 asin(λ2 / 2d) (with the
# phase's zero shift), half its intensity where that is known. A
# reflection without a finite d, or whose companion lies past 180°, has
# none.
proc ::peakview::strength::companions {phase lambda2} {
    set zero [expr {[dict get $phase zero] eq "" ? 0.0 : [dict get $phase zero]}]
    set ds [dict get $phase d]
    set xs {}
    set indices {}
    set halves {}
    foreach i [dict get $phase allowed index] h [of $phase allowed] {
        if {$i eq "" || [catch {expr {double([string trim [lindex $ds $i]])}} d] || !($d > 0)} continue
        set s [expr {$lambda2 / (2.0 * $d)}]
        if {$s >= 1.0} continue
        set tt [expr {2.0 * asin($s) * 180.0 / acos(-1)}]
        if {[dict exists $phase displacement]} {
            set tt [expr {$tt + [shift {*}[dict get $phase displacement] $tt]}]
        }
        lappend xs [expr {$tt + $zero}]
        lappend indices $i
        lappend halves [expr {$h eq "" ? "" : $h / 2.0}]
    }
    return [dict create x $xs index $indices intensity $halves]
}

# Returns the shift in degrees of a peak at 2θ TT (degrees) of a specimen
# displaced by S mm from the axis of a goniometer of radius R mm
# (Bragg-Brentano): −(2 S / R) cos θ, in radians.
proc ::peakview::strength::shift {s r tt} {
    return [expr {-2.0 * $s / $r * cos($tt * acos(-1) / 360.0) * 180.0 / acos(-1)}]
}

# Returns PHASES with the sticks of each CIF phase moved as a specimen
# displaced by S mm on a goniometer of radius R mm moves its peaks (see
# shift; their Kα2 companions follow, see companions); the key
# displacement {S R} says so.
proc ::peakview::strength::displace {phases s r} {
    lmap phase $phases {
        if {[dict get $phase kind] eq "cif"} {
            set zero [expr {[dict get $phase zero] eq "" ? 0.0 : [dict get $phase zero]}]
            foreach kind {allowed extinct} {
                dict set phase $kind x [lmap x [dict get $phase $kind x] {
                    expr {$x + [shift $s $r [expr {$x - $zero}]]}
                }]
            }
            dict set phase displacement [list $s $r]
        }
        set phase
    }
}

# Returns PHASES, each with the Kα2 companions of its allowed sticks for
# the matching wavelength of SECONDS (one λ(Kα2) per phase, "" for none)
# under the key kalpha2 (see companions, and lambda2 the wavelength).
proc ::peakview::strength::attach {phases seconds} {
    set k 0
    lmap phase $phases {
        set lambda2 [lindex $seconds $k]
        incr k
        if {$lambda2 ne ""} {
            dict set phase kalpha2 [dict replace [companions $phase $lambda2] lambda2 $lambda2]
        }
        set phase
    }
}

# Returns the rows of the table of the sticks of PHASES (each a list of
# the fields of header; "-" where a value is not known), phase by phase
# in ascending 2θ; the forbidden sticks where EXTINCT is true (they are
# shown); with XMIN and XMAX, only the sticks drawn between them.
# 2θ and d are the plot script's own text; a stick whose reflection is not
# known gives its drawn 2θ. The column line says Ka1 for a reflection and
# Ka2 for its Kα2 companion (where the phase has them, see attach: after
# the forbidden ones, whose companions are not drawn).
proc ::peakview::strength::table {phases {extinct 1} {xmin -Inf} {xmax Inf}} {
    set rows {}
    foreach phase $phases {
        set name [dict get $phase name]
        set found {}
        set kinds [expr {$extinct ? {allowed extinct} : {allowed}}]
        if {[dict exists $phase kalpha2]} { lappend kinds kalpha2 }
        foreach kind $kinds {
            if {$kind eq "kalpha2"} {
                set heights [dict get $phase kalpha2 intensity]
            } else {
                set heights [of $phase $kind]
            }
            foreach x [dict get $phase $kind x] i [dict get $phase $kind index] h $heights {
                if {$x < $xmin || $x > $xmax} continue
                set row [list $name - - - - [format %.4f $x] - - [expr {$kind eq "extinct"}] \
                             [expr {$kind eq "kalpha2" ? "Ka2" : "Ka1"}]]
                if {$i ne ""} {
                    set hkl [expr {[dict exists $phase hkl] ? [lindex [dict get $phase hkl] $i] : ""}]
                    set m [expr {[dict exists $phase multiplicity] ? [lindex [dict get $phase multiplicity] $i] : ""}]
                    if {[llength $hkl] == 3} { set row [lreplace $row 1 3 {*}$hkl] }
                    lset row 4 [string trim [lindex [dict get $phase d] $i]]
                    if {$kind eq "kalpha2"} {
                        # The companion's own 2θ, without the zero shift as
                        # the lists give theirs.
                        set zero [expr {[dict get $phase zero] eq "" ? 0.0 : [dict get $phase zero]}]
                        lset row 5 [format %.4f [expr {$x - $zero}]]
                    } else {
                        lset row 5 [string trim [lindex [dict get $phase tt] $i]]
                    }
                    if {$m ne ""} { lset row 6 $m }
                    if {$h ne ""} { lset row 7 $h }
                }
                lappend found [list $x $row]
            }
        }
        foreach pair [lsort -real -index 0 $found] { lappend rows [lindex $pair 1] }
    }
    return $rows
}

# Returns the table of ROWS (from table) as the file holds it: UTF-8,
# tab-separated, under a header line.
proc ::peakview::strength::text {rows} {
    variable header
    set lines [list [join $header \t]]
    foreach row $rows { lappend lines [join $row \t] }
    return [encoding convertto utf-8 [join $lines \n]\n]
}

# Writes the table of the sticks of PHASES (see table) to the file PATH
# (see guard::replace: whole, never through a link); returns the number
# of rows.
proc ::peakview::strength::write {path phases {extinct 1} {xmin -Inf} {xmax Inf}} {
    set rows [table $phases $extinct $xmin $xmax]
    ::peakview::guard::replace $path [text $rows]
    return [llength $rows]
}
