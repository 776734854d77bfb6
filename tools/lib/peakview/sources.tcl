# Where a phase comes from: a plot script as it stands, a deck through
# peakpos, or a crystal's CIF through peakhkl and then peakpos.
#
# A deck is read by peakpos's own reader only: its plot script comes from
# a plain run, the h k l of each reflection from "peakpos --check", whose
# table lists the reflections in the order of the script's NAME(x) list.
# A CIF becomes a deck through peakhkl, whose --table adds each
# reflection's multiplicity.
#
# Every procedure that fails raises an error with the error code
# {PEAKVIEW INPUT} and a message that names the phase argument and, for a
# refusal by a tool, carries the tool's own message; the viewer prints it
# and exits with status 2.

package require peakview::phases
package require peakview::guard

namespace eval ::peakview::sources {
    namespace export kind locate run tt_limit read_table match load data_end phases waves
    # The header lines of the tables, exactly as the tools write them:
    # peakhkl's with the intensities of a crystal's atoms, or without
    # (an older peakhkl).
    variable checkHeader "i\th\tk\tl\td\t2theta\textinct"
    variable hklHeader "h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity"
    variable oldHklHeader "h\tk\tl\td\t2theta\tmultiplicity\textinct"
    # The largest phase file read: a CIF of a large structure runs to a few
    # MiB, the plot script of 5000 reflections to under one.
    variable phaseMax [expr {64 << 20}]
}

# Raises the source error with the message made of the arguments.
proc ::peakview::sources::fail {args} {
    return -code error -errorcode {PEAKVIEW INPUT} [join $args ""]
}

# Raises the error of a program run that went wrong (the phase's name is
# put before it where one is known).
proc ::peakview::sources::runFailed {args} {
    return -code error -errorcode {PEAKVIEW INPUT RUN} [join $args ""]
}

# Returns script, cif or deck: what the text of a phase argument is.
#
# The content decides first:
#   - a plot script opens with "set NAME(x) {" (blanks allowed before it);
#   - a CIF opens, after blank lines and # comments, with a data_ block
#     header, and a tag (_name) or loop_ starts a later line; the tag is
#     needed because a deck's name line may well be a word like data_1,
#     but every later line of a deck holds numbers.
# Where the content is neither, the extension decides, so that a broken
# file is diagnosed by the reader meant for it: .tcl is a plot script,
# .cif a CIF. Empty or blank input is a plot script (an empty one, which
# the plot-script reader refuses as such). Anything else is a deck: a deck
# has no fixed extension, and peakpos says what is wrong with it.
proc ::peakview::sources::kind {path text} {
    if {[regexp {^[ ]*set [^\n]*\(x\) \{} $text] || [string trim $text] eq ""} {
        return script
    }
    if {[regexp -nocase {^(?:[ \t]*(?:#[^\n]*)?\r?\n)*[ \t]*data_\S*[ \t]*(?:#[^\n]*)?\r?\n} $text]
        && [regexp -line -nocase {^[ \t]*(?:_|loop_)} $text]} {
        return cif
    }
    switch -nocase -- [file extension $path] {
        .tcl { return script }
        .cif { return cif }
    }
    return deck
}

# Returns the path of the program NAME (peakpos or peakhkl) that peakview
# runs: GIVEN (the --peakpos or --peakhkl option) where it is not empty,
# else NAME in the directory SELFDIR of peakview itself (an installed
# prefix keeps them together in bin/), else NAME on the PATH. The build
# tree is reached through the option (--peakpos build/peakpos) or by
# running the peakview that the build places beside its tools.
proc ::peakview::sources::locate {name given selfdir} {
    if {$given ne ""} {
        set path [::peakview::guard::path $given]
        if {![file isfile $path] || ![file executable $path]} {
            fail "--$name $given: not an executable file"
        }
        return [file normalize $path]
    }
    set beside [file join $selfdir $name]
    if {[file isfile $beside] && [file executable $beside]} {
        return $beside
    }
    set found [auto_execok $name]
    if {[llength $found] == 1} {
        return [lindex $found 0]
    }
    fail "cannot find $name: give --$name FILE, or install it beside peakview" \
        " ($selfdir) or on the PATH"
}

# Returns a dict {out TEXT err TEXT status N}: what PROGRAM wrote on its
# standard output and standard error, and its exit status, when run with
# the argument list ARGUMENTS (no shell) and the file INPUT (or nothing) on
# standard input. PROGRAM and INPUT are taken as paths (guard::path), so
# that no name is read as a redirection; an argument that exec would read
# as one is refused, and a file among them must be given as an absolute
# path. Both outputs are read as UTF-8, byte for byte otherwise. A program
# that cannot be started, dies by a signal, writes more than MAXOUT bytes
# or runs past LIMITMS milliseconds (it is killed then) is an error.
proc ::peakview::sources::run {program arguments {input /dev/null} {limitMs 5000} {maxOut 67108864}} {
    variable pending
    set name [file tail $program]
    foreach word $arguments {
        if {[regexp {^(?:[<>|@]|2>|&$)} $word]} {
            runFailed "cannot run $name with the argument \"[::peakview::guard::cut $word]\":" \
                " it would be read as a redirection"
        }
    }
    close [file tempfile errpath]
    try {
        set command [list [::peakview::guard::path $program] {*}$arguments \
                         < [::peakview::guard::path $input] 2> $errpath]
        if {[catch {open |$command rb} chan]} {
            runFailed "cannot run $program: $chan"
        }
        # Read as the output comes, under the time limit.
        fconfigure $chan -blocking 0
        set pending($chan) [dict create out "" state running]
        fileevent $chan readable [list ::peakview::sources::gather $chan $maxOut]
        set timer [after [expr {max(1, round($limitMs))}] \
                       [list dict set ::peakview::sources::pending($chan) state late]]
        while {[dict get $pending($chan) state] eq "running"} {
            vwait ::peakview::sources::pending($chan)
        }
        after cancel $timer
        set state [dict get $pending($chan) state]
        set out [dict get $pending($chan) out]
        unset pending($chan)
        if {$state ne "ended"} {
            catch {exec kill -KILL {*}[pid $chan]}
            catch {close $chan}
            if {$state eq "late"} {
                runFailed "$name did not end within [expr {$limitMs / 1000.0}] s and was stopped"
            }
            runFailed "$name wrote more than [::peakview::guard::size $maxOut] and was stopped"
        }
        fconfigure $chan -blocking 1
        set status 0
        try {
            close $chan
        } trap CHILDSTATUS {- opts} {
            set status [lindex [dict get $opts -errorcode] 2]
        } trap CHILDKILLED {- opts} {
            runFailed "$program was killed by signal [lindex [dict get $opts -errorcode] 2]"
        }
        set f [open $errpath rb]
        set err [read $f $maxOut]
        close $f
    } finally {
        file delete $errpath
    }
    return [dict create out [encoding convertfrom utf-8 $out] \
                err [encoding convertfrom utf-8 $err] status $status]
}

# Returns nothing; takes what the channel CHAN of run has to give, and
# marks it ended at its end or when it passes MAXOUT bytes.
proc ::peakview::sources::gather {chan maxOut} {
    variable pending
    set bytes [read $chan]
    dict append pending($chan) out $bytes
    if {[string length [dict get $pending($chan) out]] > $maxOut} {
        dict set pending($chan) state long
    } elseif {[eof $chan]} {
        dict set pending($chan) state ended
    }
}

# Returns the 2-theta limit (degrees) of the reflections peakhkl lists for
# a CIF: GIVEN (--tt-max) where it is not empty, else DATAMAX (the upper
# end of the measured pattern's 2-theta range) where it is not empty, else
# 90. A limit taken from the data must lie in (0, 180]: data that reach
# 180 (backscattering) ask for every reflection the wavelength reaches,
# which peakhkl gives for a limit just below 180 (its Bragg angle's sine
# is 1 in double precision).
proc ::peakview::sources::tt_limit {given datamax} {
    if {$given ne ""} {
        return $given
    }
    if {$datamax eq ""} {
        return 90
    }
    if {!([string is double -strict $datamax] && $datamax > 0 && $datamax <= 180)} {
        fail "the data end at 2\u03b8 = $datamax, which is no limit for the reflections" \
            " of a CIF: give --tt-max"
    }
    if {$datamax == 180} {
        return 179.999999
    }
    return $datamax
}

# Returns the rows of a tab-separated TABLE that WHO wrote, each a list of
# its fields, after checking that the first line is HEADER and that every
# row has as many fields.
proc ::peakview::sources::read_table {who table header} {
    set lines [split [string trimright $table \n] \n]
    if {[lindex $lines 0] ne $header} {
        fail "$who: the table does not begin with the line\
              \"[string map [list \t { }] $header]\" (found \"[lindex $lines 0]\")"
    }
    set width [llength [split $header \t]]
    set rows {}
    set n 1
    foreach line [lrange $lines 1 end] {
        incr n
        set row [split $line \t]
        if {[llength $row] != $width} {
            fail "$who: line $n of the table has [llength $row] fields, not $width"
        }
        lappend rows $row
    }
    return $rows
}

# Returns ROWS, after checking that they are the reflections of the plot
# script whose NAME(x) list is TTS: as many rows as values, and in each
# row the field at COLUMN (2theta) the very text of the value at the same
# position. WHAT names the phase in the error.
proc ::peakview::sources::match {what tts rows column} {
    if {[llength $rows] != [llength $tts]} {
        fail "$what: the table lists [llength $rows] reflections,\
              the plot script [llength $tts]"
    }
    set i 0
    foreach row $rows tt $tts {
        incr i
        if {[lindex $row $column] ne $tt} {
            fail "$what: reflection $i has 2\u03b8 [lindex $row $column] in the table\
                  but $tt in the plot script"
        }
    }
    return $rows
}

# Returns the tool's message for a refusal: its standard error as it
# stands, or its exit status where it said nothing.
proc ::peakview::sources::refusal {name result} {
    set err [string trimright [dict get $result err]]
    if {$err eq ""} {
        return "$name stopped with exit status [dict get $result status] and no message"
    }
    return $err
}

# Returns the phase from the deck in the file DECK (WHAT names it in
# messages): a dict {kind deck script TEXT reflections ROWS warnings LIST},
# each row {h k l d 2theta extinct} as "peakpos --check" writes them, in
# the order of the script's NAME(x) list.
proc ::peakview::sources::from_deck {what deck peakpos {limitMs 5000}} {
    variable checkHeader
    set plain [run $peakpos {} $deck $limitMs]
    if {[dict get $plain status] != 0} {
        fail "$what: [refusal peakpos $plain]"
    }
    set check [run $peakpos --check $deck $limitMs]
    if {[dict get $check status] ni {0 1}} {
        fail "$what: [refusal {peakpos --check} $check]"
    }
    set rows [read_table "$what: peakpos --check" [dict get $check out] $checkHeader]
    set warnings [split [string trimright [dict get $check err]] \n]
    return [dict create kind deck script [dict get $plain out] \
                reflections [lmap row $rows { lrange $row 1 end }] warnings $warnings]
}

# Returns the phase from the CIF in the file CIF (WHAT names it): as
# from_deck, for the deck that peakhkl writes with the wavelength WAVE and
# the 2-theta limit TTMAX (and BEAM, more of peakhkl's options: the
# monochromator, the polarization, the radiation, the zero shift, and
# --block NAME for the data block), with each row extended by the
# multiplicity and the intensity of peakhkl's table: {h k l d 2theta
# extinct multiplicity intensity}, the intensity "" where the table has none.
proc ::peakview::sources::from_cif {what cif wave ttmax peakhkl peakpos {limitMs 5000} {beam {}}} {
    variable hklHeader
    variable oldHklHeader
    if {$wave eq ""} {
        fail "$what is a CIF: give --wave, a wavelength in \u00c5 or a line such as CuKa1"
    }
    close [file tempfile tablepath]
    set deckchan [file tempfile deckpath]
    try {
        set made [run $peakhkl [list [::peakview::guard::word $cif] --wave $wave --tt-max $ttmax \
                                    --table $tablepath {*}$beam] /dev/null $limitMs]
        if {[dict get $made status] != 0 && [string match "*5000 reflections*" [dict get $made err]]} {
            # More than a deck holds: the table alone (peakhkl --no-deck),
            # drawn without a deck.
            set whole [run $peakhkl [list [::peakview::guard::word $cif] --wave $wave --tt-max $ttmax \
                                         --table $tablepath --no-deck {*}$beam] /dev/null $limitMs]
            if {[dict get $whole status] != 0} {
                fail "$what: [refusal peakhkl $made] (and this peakhkl writes no table beyond\
                      the deck's limit: [lindex [split [refusal peakhkl $whole] \n] 0])"
            }
            set f [open $tablepath r]
            set table [read $f]
            close $f
            return [from_table $what $cif $table $beam [dict get $whole err]]
        }
        if {[dict get $made status] != 0} {
            fail "$what: [refusal peakhkl $made]"
        }
        fconfigure $deckchan -translation binary -encoding utf-8
        puts -nonewline $deckchan [dict get $made out]
        close $deckchan
        set phase [from_deck "$what (the deck peakhkl made of it)" $deckpath $peakpos $limitMs]
        set f [open $tablepath r]
        set table [read $f]
        close $f
    } finally {
        catch {close $deckchan}
        file delete $tablepath $deckpath
    }
    set header $hklHeader
    if {[lindex [split $table \n] 0] eq $oldHklHeader} { set header $oldHklHeader }
    set hkl [read_table "$what: peakhkl --table" $table $header]
    set rows [dict get $phase reflections]
    if {[llength $hkl] != [llength $rows]} {
        fail "$what: peakhkl's table lists [llength $hkl] reflections, its deck [llength $rows]"
    }
    set joined {}
    foreach row $rows own $hkl {
        if {[lrange $row 0 2] ne [lrange $own 0 2]} {
            fail "$what: peakhkl's table has [lrange $own 0 2] where its deck has\
                  [lrange $row 0 2]"
        }
        set intensity [lindex $own 8]
        if {$intensity eq "-"} { set intensity "" }
        if {$intensity ne "" && ![string is double -strict $intensity]} {
            fail "$what: peakhkl's table gives [lrange $own 0 2] the intensity \"$intensity\""
        }
        lappend joined [linsert $row end [lindex $own 5] $intensity]
    }
    set made [split [string trimright [dict get $made err]] \n]
    dict set phase kind cif
    dict set phase reflections $joined
    dict set phase warnings [concat [lsearch -all -inline -not $made ""] \
                                 [dict get $phase warnings]]
    return $phase
}

# Returns the phase of the CIF (WHAT names it) from peakhkl's TABLE
# alone, for a list longer than a deck holds: a dict {kind cif record
# RECORD reflections ROWS warnings LIST}, RECORD the phase record made
# from the table's positions (2θ plus the zero of BEAM's --zero, sticks
# from 0 to 100 as peakhkl's decks have them), ERR what peakhkl said.
proc ::peakview::sources::from_table {what cif table beam err} {
    variable hklHeader
    set rows [read_table "$what: peakhkl --table" $table $hklHeader]
    set zero 0.0
    set at [lsearch -exact $beam --zero]
    if {$at >= 0} { set zero [lindex $beam $at+1] }
    # The name as a deck's: the CIF's first data block.
    set name [file rootname [file tail $cif]]
    if {![catch {open $cif r} f]} {
        set head [read $f 65536]
        close $f
        regexp -line {^[ \t]*data_(\S+)} $head -> name
    }
    set tt {}
    set d {}
    set sticks [dict create allowed [dict create x {} ylo {} yhi {} index {}] \
                    extinct [dict create x {} ylo {} yhi {} index {}]]
    set joined {}
    set i 0
    foreach row $rows {
        lassign $row h k l dd t m extinct f2 intensity
        if {![string is double -strict $t] || ![string is double -strict $dd]} {
            fail "$what: peakhkl's table gives $h $k $l the 2θ \"$t\" and d \"$dd\""
        }
        if {$intensity eq "-"} { set intensity "" }
        lappend tt $t
        lappend d $dd
        set kind [expr {$extinct eq "1" ? "extinct" : "allowed"}]
        dict with sticks $kind {
            lappend x [expr {$t + $zero}]
            lappend ylo 0.0
            lappend yhi 100.0
            lappend index $i
        }
        lappend joined [list $h $k $l $dd $t $extinct $m $intensity]
        incr i
    }
    set record [dict create name $name source $what colour [::peakview::phases::colour 0] tt $tt d $d \
                    vectors {} allowed [dict get $sticks allowed] extinct [dict get $sticks extinct] \
                    nallowed [llength [dict get $sticks allowed x]] nextinct [llength [dict get $sticks extinct x]] \
                    zero $zero]
    dict set record wavelength [::peakview::phases::wavelength [lsearch -all [lrepeat [llength $tt] 1] 1] \
                                    [lmap v $tt { expr {double($v)} }] [lmap v $d { expr {double($v)} }]]
    set said [lsearch -all -inline -not [split [string trimright $err] \n] ""]
    return [dict create kind cif record $record reflections $joined \
                warnings [linsert $said end "[llength $rows] reflections, more than a deck holds:\
                                                drawn from peakhkl's table"]]
}

# Returns the phase that the argument ARG stands for (a file name, or -
# for standard input): a dict {kind KIND script TEXT reflections ROWS
# warnings LIST}, with no reflections for a plot script (its indices are
# unknown). OPTIONS is a dict of the viewer's settings: peakpos and peakhkl
# (the programs, as given, may be empty), selfdir (peakview's directory),
# wave, ttmax and datamax (each may be empty), where given beam (peakhkl's
# further options for a CIF, a list of words) and block (the data block of
# a CIF, "" for none).
proc ::peakview::sources::load {arg options} {
    variable phaseMax
    set what [name $arg]
    set bytes [::peakview::guard::slurp $arg $what $phaseMax]
    set text [encoding convertfrom utf-8 $bytes]
    set kind [kind $arg $text]
    set block [expr {[dict exists $options block] ? [dict get $options block] : ""}]
    if {$block ne "" && $kind ne "cif"} {
        fail "--block [::peakview::guard::cut $block]: $what is no CIF, and only a CIF has data blocks"
    }
    if {$kind eq "script"} {
        return [dict create kind script script $text reflections {} warnings {}]
    }
    # peakpos reads the bytes taken here (without a byte-order mark) from a
    # file of peakview's own, as peakhkl does a CIF from standard input;
    # peakhkl reads a CIF file itself, to name it in its messages.
    set copied [expr {$arg eq "-" || $kind eq "deck"}]
    set file [::peakview::guard::word $arg]
    if {$copied} {
        set tmp [file tempfile file]
        fconfigure $tmp -translation binary
        puts -nonewline $tmp $bytes
        close $tmp
    }
    try {
        set peakpos [locate peakpos [dict get $options peakpos] [dict get $options selfdir]]
        set limitMs [dict get $options limit]
        if {$kind eq "deck"} {
            return [from_deck $what $file $peakpos $limitMs]
        }
        set peakhkl [locate peakhkl [dict get $options peakhkl] [dict get $options selfdir]]
        set ttmax [tt_limit [dict get $options ttmax] [dict get $options datamax]]
        set beam [expr {[dict exists $options beam] ? [dict get $options beam] : {}}]
        if {[dict exists $options block] && [dict get $options block] ne ""} {
            lappend beam --block [dict get $options block]
        }
        return [from_cif $what $file [dict get $options wave] $ttmax $peakhkl $peakpos $limitMs $beam]
    } trap {PEAKVIEW INPUT RUN} {msg} {
        fail "$what: $msg"
    } finally {
        if {$copied} { file delete $file }
    }
}

# Returns the name of the phase argument ARG in messages: standard input
# for -, else the file name on one line (see guard::printable).
proc ::peakview::sources::name {arg} {
    return [expr {$arg eq "-" ? "standard input" : [::peakview::guard::printable $arg 1]}]
}

# Returns the upper end of the 2-theta range of PATTERN (a dict from the
# data reader, {} for none), or "" where there is none.
proc ::peakview::sources::data_end {pattern} {
    if {[dict size $pattern] == 0 || [llength [dict get $pattern x]] == 0} {
        return ""
    }
    # Not tcl::mathfunc::max: BLT, once loaded, replaces it with one of
    # two arguments.
    return [lindex [lsort -real [dict get $pattern x]] end]
}

# Returns the phase records (see phases.tcl) of the phase arguments ARGS,
# coloured in order: each the record of its plot script, with three more
# keys, all in the order of the script's lists: kind (script, deck or cif),
# hkl (each reflection's "h k l"; empty for a plot script, whose indices
# are unknown), multiplicity and intensity (each from peakhkl's table, ""
# where it has none; empty lists elsewhere) and warnings (what peakpos
# --check and peakhkl said). Where the table says which reflections are
# forbidden, each stick takes its reflection by that flag, so that an
# allowed and a forbidden reflection at one 2θ keep their own h k l. OPTIONS is a dict
# as for load, without datamax, and with limit (the plot script's time
# limit in ms) and where given blocks (one CIF data block per argument,
# "" for none); PATTERN the measured pattern ({} for none), whose upper
# end is a CIF's 2-theta limit where --tt-max is not given.
proc ::peakview::sources::phases {args options pattern} {
    dict set options datamax [data_end $pattern]
    set blocks [expr {[dict exists $options blocks] ? [dict get $options blocks] : {}}]
    set records {}
    foreach arg $args block [lrange $blocks 0 [expr {[llength $args] - 1}]] {
        set what [name $arg]
        set source [load $arg [dict replace $options block $block]]
        set rows [dict get $source reflections]
        if {[dict exists $source record]} {
            # Drawn from a table alone.
            set phase [dict get $source record]
        } else {
            set phase [::peakview::phases::evaluate [dict get $source script] $what \
                           [dict get $options limit]]
        }
        if {[dict get $source kind] ne "script" && ![dict exists $source record]} {
            match $what [dict get $phase tt] $rows 4
            set phase [by_flag $phase [lmap row $rows { lindex $row 5 }]]
        }
        dict set phase kind [dict get $source kind]
        dict set phase hkl [lmap row $rows { join [lrange $row 0 2] " " }]
        dict set phase multiplicity [lmap row $rows { lindex $row 6 }]
        dict set phase intensity [lmap row $rows { lindex $row 7 }]
        dict set phase warnings [dict get $source warnings]
        dict set phase colour [::peakview::phases::colour [llength $records]]
        lappend records $phase
    }
    return $records
}

# Returns PHASE with its sticks given their list entries by FLAGS (each
# entry's extinct flag, 0 or 1, from the tool's table): the allowed sticks,
# in their order, take the shown entries flagged 0, the forbidden ones
# those flagged 1. The position of a stick alone cannot tell an allowed
# from a forbidden reflection at the same 2θ. PHASE is returned as it is
# where the counts do not agree.
proc ::peakview::sources::by_flag {phase flags} {
    set shown [lsort -integer [concat [dict get $phase allowed index] [dict get $phase extinct index]]]
    set allowed {}
    set extinct {}
    foreach i $shown {
        if {[lindex $flags $i] eq "1"} { lappend extinct $i } else { lappend allowed $i }
    }
    if {[llength $allowed] != [dict get $phase nallowed] || [llength $extinct] != [dict get $phase nextinct]} {
        return $phase
    }
    dict set phase allowed index $allowed
    dict set phase extinct index $extinct
    return $phase
}

# Returns the named wavelengths that PEAKHKL knows, a dict from each name
# as peakhkl spells it to its value in Å ("peakhkl --waves").
proc ::peakview::sources::waves {peakhkl} {
    set result [run $peakhkl --waves]
    if {[dict get $result status] != 0} {
        fail "peakhkl --waves: [refusal peakhkl $result]"
    }
    set named [dict create]
    foreach line [split [string trim [dict get $result out]] \n] {
        lassign [split $line \t] name value
        if {[string is double -strict $value]} { dict set named $name $value }
    }
    return $named
}
