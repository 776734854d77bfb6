# Phases: each plot script that peakpos wrote, evaluated in a safe
# interpreter of its own under a time limit, becomes a phase record (a dict):
#
#   name        the data-set name word
#   source      the file the script came from ("standard input" for -)
#   colour      its colour in the picture (from the palette, by position)
#   tt, d       the script's NAME(x) and NAME(dspaces) lists, as written
#   vectors     the four vectors the script filled, by the names it used
#   allowed     {x ... ylo ... yhi ... index ...}: one entry per stick, in
#   extinct     the script's order; index is the stick's position in tt/d
#   nallowed, nextinct   the counts of sticks
#   wavelength  λ = 2 d sin θ from the lists ("" when nothing tells)
#   zero        stick x minus listed 2θ ("" when there is no stick)
#
#   peakview::phases::evaluate TEXT SOURCE ?LIMIT_MS?   one record
#
# (peakview::sources::phases reads the phase arguments and makes each a
# record through evaluate.)
#
# A plot script is Tcl as peakpos writes it: "set" commands and the
# vectors' "set" commands, with literal words. Its interpreter holds no
# other command (no interp, no loop, no string or list builder) and the
# script no substitution ($, [ or \), so that what it keeps is bounded by
# its text, itself bounded by scriptMax; every list it hands over is
# refused at the first step where it exceeds the most that 5000 sticks
# take. The time limit covers the script, the work of the vector commands
# and the checking of the lists it set.

namespace eval ::peakview::phases {
    # Okabe and Ito's palette, readable for colour-blind viewers (black,
    # kept for the measured data, and yellow, too pale on white, left out).
    variable palette {#0072b2 #d55e00 #009e73 #cc79a7 #e69f00 #56b4e9}
    variable timeLimitMs 5000
    # A plot script runs a dozen commands.
    variable commandLimit 100000
    # The most a plot script holds: 5000 reflections, each a stick of three
    # points, take under 1 MiB of text.
    variable listMax 5000
    variable vectorMax 15000
    variable scriptMax [expr {4 << 20}]
}

package require peakview::guard

# Returns an error with the code that peakview answers with status 2.
proc ::peakview::phases::refuse {msg} {
    return -code error -level 2 -errorcode {PEAKVIEW INPUT} $msg
}

# Returns the colour of the phase at position K (from 0).
proc ::peakview::phases::colour {k} {
    variable palette
    return [lindex $palette [expr {$k % [llength $palette]}]]
}

# Returns the lighter tint of COLOUR, for forbidden sticks.
proc ::peakview::phases::lighter {colour} {
    scan $colour "#%2x%2x%2x" r g b
    return [format "#%02x%02x%02x" {*}[lmap c [list $r $g $b] { expr {$c + ($c < 255 ? (255 - $c) / 2 : 0)} }]]
}

# Returns the number TEXT stands for, as peakpos writes numbers (100.,
# 1.E+10, -NAN., INF): a double, Inf, -Inf or NaN.
proc ::peakview::phases::number {text} {
    # scan reads INF itself, and raises an error on NAN.
    if {![catch {scan $text %g%n v end} n] && $n == 2 && $end == [string length $text]} {
        return $v
    }
    if {[regexp -nocase {^([-+]?)(NAN|INF)\.?$} $text -> sign what]} {
        # (expr cannot hand back NaN.)
        if {[string toupper $what] eq "NAN"} { return NaN }
        return ${sign}Inf
    }
    error "\"$text\" is not a number"
}

# Returns true when V (a result of number) is finite.
proc ::peakview::phases::finite {v} {
    return [expr {$v ni {NaN Inf -Inf}}]
}

# Returns the values of the vector LIST as numbers, or an error.
proc ::peakview::phases::vectorValues {list} {
    return [lmap t $list { number $t }]
}

# Returns nothing: the command a script calls as one of its vectors, which
# keeps the values in the namespace variable filled, by the vector's name.
proc ::peakview::phases::vectorSet {vector args} {
    variable filled
    variable vectorMax
    if {[llength $args] != 2 || [lindex $args 0] ne "set"} {
        error "only \"$vector set LIST\" is a plot script's use of a vector"
    }
    if {[dict exists $filled $vector]} { error "$vector was set twice" }
    set list [lindex $args 1]
    if {[catch {llength $list} n]} { error "$vector set: the values are no list" }
    if {$n > $vectorMax} {
        error "$vector set: $n values, more than the $vectorMax of 5000 sticks"
    }
    dict set filled $vector [vectorValues $list]
    overdue
    return
}

# Returns nothing: the command a script calls as set, in SAFE: set with
# one list of at most listMax entries.
proc ::peakview::phases::scriptSet {safe args} {
    variable listMax
    if {[llength $args] == 2} {
        set value [lindex $args 1]
        if {[catch {llength $value} n] || $n > $listMax} {
            error "set [lindex $args 0]: not a list of at most $listMax entries"
        }
    }
    return [$safe invokehidden set {*}$args]
}

# Raises "time limit exceeded" once the deadline of the script is past.
proc ::peakview::phases::overdue {} {
    variable deadline
    if {[clock milliseconds] > $deadline} { error "time limit exceeded" }
}

# Returns SAFE, a safe interpreter emptied of every command.
proc ::peakview::phases::emptied {safe} {
    set commands [$safe eval {info commands}]
    set spaces [$safe eval {namespace children ::}]
    foreach c $commands { $safe hide $c }
    foreach ns $spaces { $safe invokehidden namespace delete $ns }
    interp recursionlimit $safe 20
    return $safe
}

# Returns the phase record of the plot script TEXT, read from SOURCE,
# evaluated in a safe interpreter stopped after LIMIT_MS milliseconds.
proc ::peakview::phases::evaluate {text source {limitMs ""}} {
    variable timeLimitMs
    variable commandLimit
    variable filled
    variable deadline
    variable scriptMax
    if {$limitMs eq ""} { set limitMs $timeLimitMs }
    if {[string index $text 0] eq "\ufeff"} { set text [string range $text 1 end] }
    if {[string trim $text] eq ""} { refuse "$source: the plot script is empty" }
    # The script opens with " set NAME(x)" and a brace. Tcl drops the
    # blanks around NAME, so an all-blank name is the empty one.
    if {![regexp {^[ \t\r\n]*set ([^\n]*)\(x\) \{} $text -> name]} {
        refuse "$source does not look like a peakpos plot script (no \"set NAME(x) \{\" first)"
    }
    set name [string trim $name " "]
    set vectors [list ${name}_x ${name}_y xextinct yextinct]
    if {[string length $text] > $scriptMax} {
        refuse "$source: the plot script holds more than [::peakview::guard::size $scriptMax],\
                the most that 5000 reflections take"
    }
    if {[regexp -indices {[][$\\]} $text at]} {
        set line [expr {[regexp -all \n [string range $text 0 [lindex $at 0]]] + 1}]
        refuse "$source:$line: the plot script substitutes\
                (\"[string index $text [lindex $at 0]]\"), which no peakpos plot script does"
    }

    set filled [dict create]
    set safe [emptied [interp create -safe]]
    interp alias $safe set {} [namespace current]::scriptSet $safe
    foreach v $vectors {
        if {[catch {interp alias $safe $v {} [namespace current]::vectorSet $v} msg]} {
            interp delete $safe
            refuse "$source: the data-set name \"$name\" cannot name a vector: $msg"
        }
    }
    set deadline [expr {[clock milliseconds] + $limitMs}]
    interp limit $safe time -seconds [expr {$deadline / 1000}] -milliseconds [expr {$deadline % 1000}]
    interp limit $safe commands -value $commandLimit
    set failed [catch {$safe eval $text} msg]
    if {!$failed} {
        # The lists, read from the script's own array (past its limits).
        interp limit $safe time -seconds {} -milliseconds {}
        interp limit $safe commands -value {}
        foreach elem {x dspaces} {
            if {[catch {$safe invokehidden set ${name}($elem)} list($elem)]} {
                set failed 1
                set msg "it sets no ${name}($elem)"
                break
            }
        }
    }
    interp delete $safe
    if {!$failed} {
        # The checking of the lists counts against the time limit too.
        foreach v $vectors {
            if {![dict exists $filled $v]} { refuse "$source: the plot script never sets the vector $v" }
        }
        set failed [catch {
            set phase [record $name $source $list(x) $list(dspaces) $filled]
            overdue
        } msg opts]
        if {$failed && [dict get $opts -errorcode] eq {PEAKVIEW INPUT}} {
            return -options $opts $msg
        }
    }
    if {$failed} {
        # (vwait, stopped by the time limit, says only "limit exceeded".)
        switch -glob -- $msg {
            "command count limit exceeded" {
                refuse "$source: the plot script ran more than $commandLimit commands and was stopped"
            }
            "*limit exceeded" {
                refuse "$source: the plot script did not end within [expr {$limitMs / 1000.0}] s and was stopped"
            }
        }
        refuse "$source: the plot script failed: [::peakview::guard::cut $msg]"
    }
    return $phase
}

# Returns the phase record of the lists TT and D and the vectors FILLED.
proc ::peakview::phases::record {name source tt d filled} {
    if {[catch {llength $tt}] || [catch {llength $d}] || [llength $tt] != [llength $d]} {
        refuse "$source: ${name}(x) and ${name}(dspaces) are not two lists of the same length"
    }
    if {[catch {set ttv [vectorValues $tt]; set dv [vectorValues $d]} msg]} {
        refuse "$source: the lists of ${name}: $msg"
    }
    # The lists as lists, each entry the text the script wrote.
    set tt [lrange $tt 0 end]
    set d [lrange $d 0 end]
    set all [concat $ttv $dv]
    if {[llength $all] > 0 && [llength [lsearch -all -exact -not $all NaN]] == 0} {
        refuse "$source: every 2θ and d of ${name} is not a number: the deck's cell is no cell"
    }
    set phase [dict create name $name source $source colour [colour 0] tt $tt d $d \
                   vectors $filled]
    foreach {kind xv yv} [list allowed ${name}_x ${name}_y extinct xextinct yextinct] {
        set xs [dict get $filled $xv]
        set ys [dict get $filled $yv]
        if {[llength $xs] != [llength $ys] || [llength $xs] % 3 != 0} {
            refuse "$source: the vectors $xv and $yv do not hold sticks of three points\
                    ([llength $xs] and [llength $ys] values)"
        }
        set sx {}
        set lo {}
        set hi {}
        foreach {x1 x2 x3} $xs {y1 y2 y3} $ys {
            if {$x1 in {NaN Inf -Inf} || $x2 != $x1 || $x3 != $x1} {
                refuse "$source: a stick of $xv is not three points at one finite x"
            }
            foreach v [list $x1 $y1 $y2 $y3] {
                if {[finite $v] && ![::peakview::guard::plottable $v]} {
                    refuse "$source: a stick of $xv and $yv reaches $v, beyond\
                            ±$::peakview::guard::maxMagnitude, which the plot cannot lay out"
                }
            }
            lappend sx $x1
            lappend lo $y1
            lappend hi $y2
        }
        dict set phase $kind [dict create x $sx ylo $lo yhi $hi index {}]
        dict set phase n$kind [llength $sx]
    }
    return [match $phase $ttv $dv]
}

# Returns PHASE with each stick's index into the lists, its zero shift and
# its wavelength. Sticks are the visible reflections (2θ above 0) in list
# order, each in the allowed or the extinct vectors; with one zero shift
# for all, each list entry goes to the next stick of either vector that
# lies at its 2θ plus the shift.
proc ::peakview::phases::match {phase ttv dv} {
    set visible [lmap i [lsearch -all -exact -not $ttv NaN] {
        set t [lindex $ttv $i]
        if {[finite $t] && $t > 0} { set i } else continue
    }]
    set ax [dict get $phase allowed x]
    set ex [dict get $phase extinct x]
    dict set phase zero ""
    dict set phase wavelength [wavelength $visible $ttv $dv]
    if {[llength $visible] == 0 || [llength $visible] != [llength $ax] + [llength $ex]} {
        return $phase
    }
    set t0 [lindex $ttv [lindex $visible 0]]
    set best ""
    foreach first [list [lindex $ax 0] [lindex $ex 0]] {
        if {$first eq ""} continue
        set z [expr {$first - $t0}]
        set ia 0
        set ie 0
        set worst 0.0
        set ai {}
        set ei {}
        set sum 0.0
        set na [llength $ax]
        set ne [llength $ex]
        foreach i $visible {
            set t [expr {[lindex $ttv $i] + $z}]
            set ra [expr {$ia < $na ? abs([lindex $ax $ia] - $t) : Inf}]
            set re [expr {$ie < $ne ? abs([lindex $ex $ie] - $t) : Inf}]
            if {$ra <= $re} {
                set sum [expr {$sum + [lindex $ax $ia] - [lindex $ttv $i]}]
                lappend ai $i
                incr ia
                set worst [expr {max($worst, $ra)}]
            } else {
                set sum [expr {$sum + [lindex $ex $ie] - [lindex $ttv $i]}]
                lappend ei $i
                incr ie
                set worst [expr {max($worst, $re)}]
            }
        }
        if {$best eq "" || $worst < [lindex $best 0]} {
            set best [list $worst $ai $ei [expr {$sum / [llength $visible]}]]
        }
        # Within the rounding of single precision: no need to try further.
        if {$worst < 1e-3} break
    }
    lassign $best worst ai ei zero
    dict set phase allowed index $ai
    dict set phase extinct index $ei
    dict set phase zero $zero
    return $phase
}

# Returns the wavelength the lists imply (the median of 2 d sin θ over the
# visible entries), or "" when no entry tells.
proc ::peakview::phases::wavelength {visible ttv dv} {
    set pi [expr {acos(-1)}]
    set ls {}
    foreach i $visible {
        set d [lindex $dv $i]
        if {![finite $d] || $d <= 0} continue
        lappend ls [expr {2.0 * $d * sin([lindex $ttv $i] * $pi / 360.0)}]
    }
    if {[llength $ls] == 0} { return "" }
    return [lindex [lsort -real $ls] [expr {[llength $ls] / 2}]]
}
