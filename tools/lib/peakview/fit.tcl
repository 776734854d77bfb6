# A fit as peakfit writes it under --out PREFIX, read for the window:
# PREFIX.json (what was fitted, the R factors, the phases), PREFIX.xye
# (2θ, observed, calculated, background, difference), and each phase's
# refined deck (PREFIX-NAME.deck, drawn through peakpos as any deck) and
# table (PREFIX-NAME.tsv: the fitted intensities, the sticks' heights).
# A file that is missing, or that does not match the others, is refused
# with the reason (error code PEAKVIEW INPUT).
#
#   peakview::fit::load PREFIX         the fit: pattern, decks, tables, phases' notes
#   peakview::fit::phases FIT OPTIONS  the phase records of its refined decks, as high as fitted
#   peakview::fit::heights PHASE ROWS  PHASE with the heights of the fit's table
#   peakview::fit::matches FIT PATTERN the pattern fitted is PATTERN, or a refusal

package require peakview::guard
package require peakview::data

namespace eval ::peakview::fit {
    # The largest PREFIX.json read (its correlations grow with the square
    # of the parameters).
    variable jsonMax [expr {64 << 20}]
    # The columns of PREFIX.xye, in order.
    variable columns {2theta observed calculated background difference}
}

# Returns an error with the code that peakview answers with status 2.
proc ::peakview::fit::refuse {msg} {
    return -code error -level 2 -errorcode {PEAKVIEW INPUT} $msg
}

# Returns the value of the number {value, esd} or plain number V of the
# json, "" where it is null or absent.
proc ::peakview::fit::value {v} {
    if {[llength $v] == 4 && [dict exists $v value]} { set v [dict get $v value] }
    if {$v eq "null" || ![string is double -strict $v]} { return "" }
    return $v
}

# Returns V, a {value, esd} of the json, as the field writes it: "58.8(4)"
# (the esd in the last digits shown), the value alone where it has none.
proc ::peakview::fit::withEsd {v} {
    set x [value $v]
    if {$x eq ""} { return "" }
    set esd [expr {[llength $v] == 4 && [dict exists $v esd] ? [value [dict get $v esd]] : ""}]
    if {$esd eq "" || $esd <= 0} { return [format %.4g $x] }
    # Two digits of the esd where it begins with 1, else one.
    set digits [expr {max(0, -int(floor(log10($esd))) + ([string index [format %e $esd] 0] eq "1"))}]
    return [format "%.*f(%d)" $digits $x [expr {round($esd * 10 ** $digits)}]]
}

# Returns the fit under PREFIX: a dict with pattern (as the data reader's,
# with the keys calculated, background, difference and rwp), json (the
# whole of PREFIX.json as a dict), and phases, one dict per phase of the
# json: name, deck, table (paths), weight (its weight percent as text,
# "" where peakfit gives none).
proc ::peakview::fit::load {prefix} {
    variable jsonMax
    package require json
    set jsonPath $prefix.json
    set text [encoding convertfrom utf-8 [::peakview::guard::slurp $jsonPath "the fit's $jsonPath" $jsonMax]]
    if {[catch {::json::json2dict $text} json]} {
        refuse "$jsonPath: not the JSON peakfit writes: [::peakview::guard::cut $json]"
    }
    if {[catch {dict get $json program} program] || $program ne "peakfit"} {
        refuse "$jsonPath: not written by peakfit (no \"program\": \"peakfit\")"
    }
    foreach key {data phases R} {
        if {![dict exists $json $key]} { refuse "$jsonPath: no \"$key\"" }
    }
    set pattern [curves $prefix.xye]
    # The curves are those of the fit the json tells of.
    set data [dict get $json data]
    set n [llength [dict get $pattern x]]
    set points [value [expr {[dict exists $data points] ? [dict get $data points] : ""}]]
    if {$points ne "" && $points != $n} {
        refuse "$prefix.xye has $n points, but $jsonPath fitted $points: they are not one fit"
    }
    foreach key {first last} x [list [lindex [dict get $pattern x] 0] [lindex [dict get $pattern x] end]] {
        set v [value [expr {[dict exists $data $key] ? [dict get $data $key] : ""}]]
        if {$v ne "" && abs($v - $x) > 1e-6 * max(1.0, abs($v))} {
            refuse "$prefix.xye runs from [lindex [dict get $pattern x] 0]° to\
                    [lindex [dict get $pattern x] end]°, but $jsonPath fitted $key 2θ $v°: they are not one fit"
        }
    }
    set rwp [withEsd [expr {[dict exists $json R Rwp] ? [dict get $json R Rwp] : ""}]]
    dict set pattern rwp [expr {$rwp eq "" ? "?" : "$rwp %"}]
    # Each phase's deck and table, beside PREFIX.json.
    set dir [file dirname $prefix]
    set phases {}
    foreach phase [dict get $json phases] {
        if {![dict exists $phase name]} { refuse "$jsonPath: a phase without a name" }
        set record [dict create name [dict get $phase name] weight ""]
        foreach key {deck table} {
            if {![dict exists $phase $key]} {
                refuse "$jsonPath: the phase [dict get $phase name] names no $key file"
            }
            # As written (PREFIX-NAME.deck, beside PREFIX.json), or the
            # part after the prefix alone (-NAME.deck).
            set given [dict get $phase $key]
            set ext [dict get {deck .deck table .tsv} $key]
            set candidates [list [file join $dir [file tail $given]] $prefix$given \
                                $prefix-[dict get $phase name]$ext]
            if {[file pathtype $given] eq "absolute"} { set candidates [linsert $candidates 0 $given] }
            set path ""
            foreach candidate $candidates {
                if {[file isfile $candidate]} {
                    set path $candidate
                    break
                }
            }
            if {$path eq ""} {
                refuse "$jsonPath: the phase [dict get $phase name]'s $key $given is missing\
                        (looked for [join [lsort -unique $candidates] {, }])"
            }
            dict set record $key $path
        }
        if {[dict exists $phase weight_percent]} {
            dict set record weight [withEsd [dict get $phase weight_percent]]
        }
        lappend phases $record
    }
    if {[llength $phases] == 0} { refuse "$jsonPath: no phase" }
    return [dict create pattern $pattern json $json phases $phases]
}

# Returns the curves of the fit's PATH (2θ observed calculated background
# difference, a # line between ranges) as a pattern dict: source, format
# fit, x, y (observed), sigma {}, calculated, background, difference.
proc ::peakview::fit::curves {path} {
    variable columns
    set read [::peakview::data::columns $path [llength $columns]]
    set pattern [dict create source $path format fit sigma {}]
    foreach name $columns key {x y calculated background difference} column [lrange $read 0 4] {
        dict set pattern $key $column
    }
    return $pattern
}

# Returns the phase records of FIT's refined decks (through peakpos, as
# peakview::sources::phases makes them under OPTIONS), each with the
# heights of its table (see heights) and its weight percent (weight).
proc ::peakview::fit::phases {fit options} {
    package require peakview::sources
    set decks [lmap p [dict get $fit phases] { dict get $p deck }]
    set records [::peakview::sources::phases $decks $options {}]
    lmap record $records p [dict get $fit phases] {
        set table [dict get $p table]
        set text [encoding convertfrom utf-8 [::peakview::guard::slurp $table "the fit's table $table" \
                                                   $::peakview::sources::phaseMax]]
        set rows [::peakview::sources::read_table $table $text $::peakview::sources::hklHeader]
        dict replace [heights $record $rows $table] weight [dict get $p weight]
    }
}

# Returns PHASE (a phase record of a refined deck) with the heights of the
# fit: the intensity of each reflection from ROWS (the rows of its
# PREFIX-NAME.tsv, h k l d 2theta multiplicity extinct F2 intensity),
# matched by h k l, its multiplicity likewise, and the key fitted; a
# reflection the table lacks has none. WHAT names the table in messages.
proc ::peakview::fit::heights {phase rows what} {
    set byHkl [dict create]
    set n 1
    foreach row $rows {
        incr n
        lassign $row h k l d tt m extinct f2 intensity
        if {![string is double -strict $intensity]} {
            refuse "$what:$n: the intensity \"[::peakview::guard::cut $intensity]\" is no number"
        }
        dict set byHkl "$h $k $l" [list $m $intensity]
    }
    set ms {}
    set is {}
    set found 0
    foreach hkl [dict get $phase hkl] {
        if {[dict exists $byHkl $hkl]} {
            lassign [dict get $byHkl $hkl] m i
            incr found
        } else {
            lassign {"" ""} m i
        }
        lappend ms $m
        lappend is $i
    }
    if {$found == 0 && [llength $rows] > 0} {
        refuse "$what lists none of the reflections of its deck: they are not one fit"
    }
    dict set phase multiplicity $ms
    dict set phase intensity $is
    dict set phase fitted 1
    return $phase
}

# Returns nothing where PATTERN (read from --data) is the one FIT was
# fitted to (as many points, from the same first to the same last 2θ, or
# covering the fitted range); else refuses, saying why.
proc ::peakview::fit::matches {fit pattern} {
    set data [dict get $fit json data]
    set xs [dict get $pattern x]
    set first [value [expr {[dict exists $data first] ? [dict get $data first] : ""}]]
    set last [value [expr {[dict exists $data last] ? [dict get $data last] : ""}]]
    set sorted [lsort -real $xs]
    set lo [lindex $sorted 0]
    set hi [lindex $sorted end]
    set tolerance 1e-6
    if {$first ne "" && $last ne "" && ($first < $lo - $tolerance || $last > $hi + $tolerance)} {
        refuse "[dict get $pattern source] runs from $lo° to $hi°; the fit ran from $first° to $last°\
                on [expr {[dict exists $data path] ? [dict get $data path] : "another file"}]: another data file"
    }
    # The fitted points are points of the file.
    set fitted [dict get $fit pattern]
    foreach k {0 end} {
        set x [lindex [dict get $fitted x] $k]
        set y [lindex [dict get $fitted y] $k]
        # The nearest point (the fit's file rounds 2θ).
        set i [lsearch -sorted -real -bisect $xs $x]
        if {$i < 0 || ($i + 1 < [llength $xs] && abs([lindex $xs $i+1] - $x) < abs([lindex $xs $i] - $x))} {
            incr i
        }
        if {abs([lindex $xs $i] - $x) > $tolerance || abs([lindex [dict get $pattern y] $i] - $y) > 1e-6 * max(1.0, abs($y))} {
            refuse "[dict get $pattern source] has no point at 2θ $x° with the $y counts the fit observed\
                    there: another data file"
        }
    }
}
