# Evaluates peakpos's plot script in a real Tcl front end and checks what
# the front end ends up holding.
#
#   tclsh frontend.tcl PEAKPOS DECK
#
# Runs PEAKPOS with DECK on standard input, evaluates the script in the
# global namespace of a fresh interpreter that has BLT vectors named
# NAME_x, NAME_y, xextinct and yextinct, and compares the array NAME and the
# vectors with what the deck asks for: NAME(x) and NAME(dspaces) hold npeak
# numbers each, and every reflection with 2-theta above 0 is one stick of
# three points, x = 2-theta + zero and y = ymin ymax ymin, in the allowed
# vectors when its flag is 0 and in the extinct ones otherwise.
#
# The deck is read here by the same free-format rules peakpos follows, so
# that the expectations come from the deck and not from the script.

package require BLT

set failures 0
proc fail {msg} {
    puts stderr "FAIL: $msg"
    incr ::failures
}

# The value stored in a single-precision variable.
proc f32 {x} {
    binary scan [binary format f $x] f y
    return $y
}

# ---- The deck -------------------------------------------------------------

# One free-format read of n items from line ::li on. Items without a value
# (null commas, r*, a slash) keep 0. The next read starts on the line after
# the one the last item stood on. With eofok, the input may end anywhere.
proc lread {n {eofok 0}} {
    global lines li
    set vals [lrepeat [expr {max($n, 0)}] 0]
    if {$n <= 0} {
        incr li
        return $vals
    }
    if {$li >= [llength $lines]} {
        if {$eofok} { return $vals }
        error "end of input at line [expr {$li + 1}]"
    }
    set rest [lindex $lines $li]
    set k 0
    while {$k < $n} {
        set rest [string trimleft $rest " \t"]
        if {$rest eq ""} {
            incr li
            if {$li >= [llength $lines]} {
                if {$eofok} { return $vals }
                error "end of input at line [expr {$li + 1}]"
            }
            set rest [lindex $lines $li]
            continue
        }
        switch -- [string index $rest 0] {
            , {
                incr k
                set rest [string range $rest 1 end]
                continue
            }
            / break
        }
        regexp {^([^ \t,/]*)(.*)$} $rest -> token rest
        set rest [string trimleft $rest " \t"]
        if {[string index $rest 0] eq ","} { set rest [string range $rest 1 end] }
        if {[regexp {^\+?(\d+)\*(.*)$} $token -> count token]} {
            set count [scan $count %d]
        } else {
            set count 1
        }
        for {set r 0} {$r < $count && $k < $n} {incr r; incr k} {
            if {$token ne ""} { lset vals $k [number $token] }
        }
    }
    incr li
    return $vals
}

# A free-format number: 1.5, -2, 3e4, 9d1, 1.5-3 (a sign right after the
# digits starts the exponent).
proc number {text} {
    if {![regexp {^([+-]?)(\d*)(?:\.(\d*))?(?:[eEdD]([+-]?\d+)|([+-]\d+))?$} $text \
              -> sign int frac e1 e2] || "$int$frac" eq ""} {
        error "not a number: \"$text\""
    }
    set exp [expr {$e1 ne "" ? $e1 : ($e2 ne "" ? $e2 : 0)}]
    # Leading zeros would make Tcl read the digits as octal.
    set int [string trimleft $int 0]
    return [expr {double("$sign[expr {$int eq {} ? 0 : $int}].${frac}0e[scan $exp %d]")}]
}

proc read_deck {path} {
    global lines li
    set chan [open $path rb]
    set data [read $chan]
    close $chan
    set lines [split $data \n]
    if {[lindex $lines end] eq ""} { set lines [lrange $lines 0 end-1] }
    # CR LF decks read as LF decks.
    set lines [lmap line $lines { regsub {\r$} $line {} }]

    set dnam [string range "[lindex $lines 0][string repeat { } 25]" 0 24]
    set li 1
    lread 7
    lassign [lread 3] ymin ymax zero
    set npeak [expr {int([lindex [lread 1] 0])}]
    lread $npeak
    lread $npeak
    lread $npeak
    set flags [lmap v [lread $npeak 1] { expr {int($v)} }]

    # The name word: the first blank-delimited word of the 25 characters.
    # Tcl drops the blanks around it, so an all-blank name is the empty one.
    regexp {^ *([^ ]*)} $dnam -> word
    return [dict create word $word npeak [expr {max($npeak, 0)}] flags $flags \
                ymin [f32 $ymin] ymax [f32 $ymax] zero [f32 $zero]]
}

# ---- The front end --------------------------------------------------------

lassign $argv peakpos deckfile
if {[llength $argv] != 2} {
    puts stderr "usage: tclsh frontend.tcl PEAKPOS DECK"
    exit 2
}
set deck [read_deck $deckfile]
dict with deck {}

if {[catch {exec $peakpos < $deckfile 2>@stderr} script]} {
    puts stderr "FAIL: peakpos did not run cleanly: $script"
    exit 1
}
if {[regexp -nocase {nan} $script]} {
    puts stderr "FAIL: the script holds not-a-number text, which no vector can take"
    exit 1
}

set fe [interp create]
$fe eval { package require BLT }
set vecs [list ${word}_x ${word}_y xextinct yextinct]
foreach v $vecs { $fe eval [list blt::vector create ::$v] }
if {[catch {$fe eval $script} msg]} {
    puts stderr "FAIL: the front end refused the script: $msg"
    exit 1
}

# The array: two lists of npeak numbers.
set tt {}
foreach elem {x dspaces} {
    if {![$fe eval [list info exists ::${word}($elem)]]} {
        fail "${word}($elem) was not set"
        continue
    }
    set list [$fe eval [list set ::${word}($elem)]]
    if {[catch {llength $list} len] || $len != $npeak} {
        fail "${word}($elem) is not a list of $npeak values: $list"
        continue
    }
    foreach v $list {
        if {![string is double -strict $v]} { fail "${word}($elem) holds \"$v\", not a number" }
    }
    if {$elem eq "x"} { set tt $list }
}

# The sticks: what the deck and the 2-theta list ask for.
set want [dict create ${word}_x {} ${word}_y {} xextinct {} yextinct {}]
for {set i 0} {$i < [llength $tt]} {incr i} {
    set t [lindex $tt $i]
    if {!([string is double -strict $t] && $t > 0)} continue
    set x [f32 [expr {[f32 $t] + $zero}]]
    set to [expr {[lindex $flags $i] == 0 ? "" : "extinct"}]
    set xv [expr {$to eq "" ? "${word}_x" : "xextinct"}]
    set yv [expr {$to eq "" ? "${word}_y" : "yextinct"}]
    dict lappend want $xv $x $x $x
    dict lappend want $yv $ymin $ymax $ymin
}
foreach v $vecs {
    set n [$fe eval [list $v length]]
    set got [expr {$n == 0 ? {} : [lmap g [$fe eval [list $v range 0 end]] { f32 $g }]}]
    set exp [dict get $want $v]
    if {[llength $got] != [llength $exp]} {
        fail "vector $v holds [llength $got] values, the deck asks for [llength $exp]"
        continue
    }
    set i 0
    foreach g $got e $exp {
        incr i
        if {$g != $e} {
            fail "vector $v value $i is $g, the deck asks for $e"
            break
        }
    }
}

if {$failures > 0} { exit 1 }
puts [format "ok: %s: %d values, %d allowed and %d extinct sticks" $word $npeak \
          [expr {[llength [dict get $want ${word}_x]] / 3}] \
          [expr {[llength [dict get $want xextinct]] / 3}]]
