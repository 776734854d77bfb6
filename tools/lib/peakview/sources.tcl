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

namespace eval ::peakview::sources {
    namespace export kind locate run tt_limit read_table match load data_end phases
    # The header lines of the two tables, exactly as the tools write them.
    variable checkHeader "i\th\tk\tl\td\t2theta\textinct"
    variable hklHeader "h\tk\tl\td\t2theta\tmultiplicity\textinct\tF2\tintensity"
}

# Raises the source error with the message made of the arguments.
proc ::peakview::sources::fail {args} {
    return -code error -errorcode {PEAKVIEW INPUT} [join $args ""]
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
        if {![file isfile $given] || ![file executable $given]} {
            fail "--$name $given: not an executable file"
        }
        return [file normalize $given]
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

# Returns the word that exec reads as the file name PATH: a relative path
# that starts like a redirection or a pipe (<, >, |, 2>) gets a leading ./.
proc ::peakview::sources::plain_word {path} {
    if {[regexp {^(?:[<>|&]|2>)} $path]} {
        return ./$path
    }
    return $path
}

# Returns a dict {out TEXT err TEXT status N}: what PROGRAM wrote on its
# standard output and standard error, and its exit status, when run with
# the argument list ARGUMENTS (no shell; a file name among them goes
# through plain_word) and the file INPUT (or nothing) on standard input.
# Both outputs are read as UTF-8, byte for byte otherwise. A program that
# cannot be started or dies by a signal is an error.
proc ::peakview::sources::run {program arguments {input /dev/null}} {
    close [file tempfile errpath]
    try {
        if {[catch {
            open |[list [plain_word $program] {*}$arguments < [plain_word $input] 2> $errpath] r
        } chan]} {
            fail "cannot run $program: $chan"
        }
        fconfigure $chan -translation binary
        set out [read $chan]
        set status 0
        try {
            close $chan
        } trap CHILDSTATUS {- opts} {
            set status [lindex [dict get $opts -errorcode] 2]
        } trap CHILDKILLED {- opts} {
            fail "$program was killed by signal [lindex [dict get $opts -errorcode] 2]"
        }
        set f [open $errpath r]
        fconfigure $f -translation binary
        set err [read $f]
        close $f
    } finally {
        file delete $errpath
    }
    return [dict create out [encoding convertfrom utf-8 $out] \
                err [encoding convertfrom utf-8 $err] status $status]
}

# Returns the 2-theta limit (degrees) of the reflections peakhkl lists for
# a CIF: GIVEN (--tt-max) where it is not empty, else DATAMAX (the upper
# end of the measured pattern's 2-theta range) where it is not empty, else
# 90. A limit taken from the data must lie in (0, 180).
proc ::peakview::sources::tt_limit {given datamax} {
    if {$given ne ""} {
        return $given
    }
    if {$datamax eq ""} {
        return 90
    }
    if {!([string is double -strict $datamax] && $datamax > 0 && $datamax < 180)} {
        fail "the data end at 2\u03b8 = $datamax, which is no limit for the reflections" \
            " of a CIF: give --tt-max"
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
proc ::peakview::sources::from_deck {what deck peakpos} {
    variable checkHeader
    set plain [run $peakpos {} $deck]
    if {[dict get $plain status] != 0} {
        fail "$what: [refusal peakpos $plain]"
    }
    set check [run $peakpos --check $deck]
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
# the 2-theta limit TTMAX, with each row extended by the multiplicity of
# peakhkl's table: {h k l d 2theta extinct multiplicity}.
proc ::peakview::sources::from_cif {what cif wave ttmax peakhkl peakpos} {
    variable hklHeader
    if {$wave eq ""} {
        fail "$what is a CIF: give --wave, a wavelength in \u00c5 or a line such as CuKa1"
    }
    close [file tempfile tablepath]
    set deckchan [file tempfile deckpath]
    try {
        set made [run $peakhkl [list [plain_word $cif] --wave $wave --tt-max $ttmax --table $tablepath]]
        if {[dict get $made status] != 0} {
            fail "$what: [refusal peakhkl $made]"
        }
        fconfigure $deckchan -translation binary -encoding utf-8
        puts -nonewline $deckchan [dict get $made out]
        close $deckchan
        set phase [from_deck "$what (the deck peakhkl made of it)" $deckpath $peakpos]
        set f [open $tablepath r]
        set table [read $f]
        close $f
    } finally {
        catch {close $deckchan}
        file delete $tablepath $deckpath
    }
    set hkl [read_table "$what: peakhkl --table" $table $hklHeader]
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
        lappend joined [linsert $row end [lindex $own 5]]
    }
    set made [split [string trimright [dict get $made err]] \n]
    dict set phase kind cif
    dict set phase reflections $joined
    dict set phase warnings [concat [lsearch -all -inline -not $made ""] \
                                 [dict get $phase warnings]]
    return $phase
}

# Returns the phase that the argument ARG stands for (a file name, or -
# for standard input): a dict {kind KIND script TEXT reflections ROWS
# warnings LIST}, with no reflections for a plot script (its indices are
# unknown). OPTIONS is a dict of the viewer's settings: peakpos and peakhkl
# (the programs, as given, may be empty), selfdir (peakview's directory),
# wave, ttmax and datamax (each may be empty).
proc ::peakview::sources::load {arg options} {
    set what [expr {$arg eq "-" ? "standard input" : $arg}]
    if {$arg eq "-"} {
        set chan stdin
    } elseif {[catch {open $arg r} chan]} {
        fail "cannot read $arg: [string trim [lindex [split $chan :] end]]"
    }
    fconfigure $chan -translation binary
    set bytes [read $chan]
    if {$arg ne "-"} {
        close $chan
    }
    set text [encoding convertfrom utf-8 $bytes]
    set kind [kind $arg $text]
    if {$kind eq "script"} {
        return [dict create kind script script $text reflections {} warnings {}]
    }
    set file $arg
    if {$arg eq "-"} {
        set tmp [file tempfile file]
        fconfigure $tmp -translation binary
        puts -nonewline $tmp $bytes
        close $tmp
    }
    try {
        set peakpos [locate peakpos [dict get $options peakpos] [dict get $options selfdir]]
        if {$kind eq "deck"} {
            return [from_deck $what $file $peakpos]
        }
        set peakhkl [locate peakhkl [dict get $options peakhkl] [dict get $options selfdir]]
        set ttmax [tt_limit [dict get $options ttmax] [dict get $options datamax]]
        return [from_cif $what $file [dict get $options wave] $ttmax $peakhkl $peakpos]
    } finally {
        if {$arg eq "-"} {
            file delete $file
        }
    }
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
# are unknown), multiplicity (each from peakhkl's table; empty elsewhere)
# and warnings (what peakpos --check and peakhkl said). OPTIONS is a dict
# as for load, without datamax, and with limit (the plot script's time
# limit in ms); PATTERN the measured pattern ({} for none), whose upper
# end is a CIF's 2-theta limit where --tt-max is not given.
proc ::peakview::sources::phases {args options pattern} {
    dict set options datamax [data_end $pattern]
    set records {}
    foreach arg $args {
        set what [expr {$arg eq "-" ? "standard input" : $arg}]
        set source [load $arg $options]
        set phase [::peakview::phases::evaluate [dict get $source script] $what \
                       [dict get $options limit]]
        set rows [dict get $source reflections]
        if {[dict get $source kind] ne "script"} {
            match $what [dict get $phase tt] $rows 4
        }
        dict set phase kind [dict get $source kind]
        dict set phase hkl [lmap row $rows { join [lrange $row 0 2] " " }]
        dict set phase multiplicity [lmap row $rows { lindex $row 6 }]
        dict set phase warnings [dict get $source warnings]
        dict set phase colour [::peakview::phases::colour [llength $records]]
        lappend records $phase
    }
    return $records
}
