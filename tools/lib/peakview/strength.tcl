# How strong each stick is, and the sticks as a table: the intensities
# peakhkl gives a crystal's reflections, the weak ones left out, the Kα2
# companions of a Kα1 pattern, and the table of what is drawn. Nothing
# here needs a window.
#
#   peakview::strength::known PHASE                 true where PHASE has intensities
#   peakview::strength::of PHASE KIND               each stick's intensity ("" unknown)
#   peakview::strength::thin PHASES PCT             PHASES without the weak allowed sticks
#   peakview::strength::companions PHASE LAMBDA2    the Kα2 sticks of PHASE's allowed ones
#   peakview::strength::kalpha2 WAVE NAMED          λ(Kα2) for the line WAVE, or ""
#   peakview::strength::common PHASES               the phases' one wavelength, or ""
#   peakview::strength::table PHASES ?EXTINCT XMIN XMAX?   the rows of the table of the sticks
#   peakview::strength::text ROWS                   the table's text (UTF-8 bytes)
#   peakview::strength::write FILE PHASES ?EXTINCT XMIN XMAX?   the table written to FILE

package require peakview::guard

namespace eval ::peakview::strength {
    variable header {phase h k l d 2theta multiplicity intensity extinct}
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
        lappend xs [expr {2.0 * asin($s) * 180.0 / acos(-1) + $zero}]
        lappend indices $i
        lappend halves [expr {$h eq "" ? "" : $h / 2.0}]
    }
    return [dict create x $xs index $indices intensity $halves]
}

# Returns the rows of the table of the sticks of PHASES (each a list of
# the fields of header; "-" where a value is not known), phase by phase
# in ascending 2θ; the forbidden sticks where EXTINCT is true (they are
# shown); with XMIN and XMAX, only the sticks drawn between them.
# 2θ and d are the plot script's own text; a stick whose reflection is not
# known gives its drawn 2θ.
proc ::peakview::strength::table {phases {extinct 1} {xmin -Inf} {xmax Inf}} {
    set rows {}
    foreach phase $phases {
        set name [dict get $phase name]
        set found {}
        foreach kind [expr {$extinct ? {allowed extinct} : {allowed}}] {
            set heights [of $phase $kind]
            foreach x [dict get $phase $kind x] i [dict get $phase $kind index] h $heights {
                if {$x < $xmin || $x > $xmax} continue
                set row [list $name - - - - [format %.4f $x] - - [expr {$kind eq "extinct"}]]
                if {$i ne ""} {
                    set hkl [expr {[dict exists $phase hkl] ? [lindex [dict get $phase hkl] $i] : ""}]
                    set m [expr {[dict exists $phase multiplicity] ? [lindex [dict get $phase multiplicity] $i] : ""}]
                    if {[llength $hkl] == 3} { set row [lreplace $row 1 3 {*}$hkl] }
                    lset row 4 [string trim [lindex [dict get $phase d] $i]]
                    lset row 5 [string trim [lindex [dict get $phase tt] $i]]
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
