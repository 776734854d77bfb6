# What the viewer's tcltest files share: the library on the path, the
# fixtures, running peakview as a user does, and reading its pictures.
#
# The environment names the tools: PEAKVIEW (the viewer) and PEAKPOS.

package require tcltest
namespace import ::tcltest::*
set here [file dirname [file normalize [info script]]]
set root [file dirname [file dirname $here]]
set auto_path [linsert $auto_path 0 [file join $root tools lib]]
set fixtures [file join $here data]
set peakview [expr {[info exists env(PEAKVIEW)] ? $env(PEAKVIEW) : [file join $root tools peakview]}]
set scratch [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] peakview-test-[pid]]
file mkdir $scratch

# Returns the path of the fixture NAME.
proc fixture {name} {
    return [file join $::fixtures $name]
}

# Returns the path of a plot script that peakpos writes for DECK (a path),
# kept in the scratch directory.
proc scriptOf {deck} {
    set out [file join $::scratch [file rootname [file tail $deck]].tcl]
    exec $::env(PEAKPOS) < $deck > $out
    return $out
}

# Returns the phase records of the plot scripts FILES, read as peakview
# reads its phase arguments.
proc scriptPhases {files} {
    package require peakview::sources
    return [peakview::sources::phases $files [dict create peakpos "" peakhkl "" selfdir ""                                                   wave "" ttmax "" limit 5000] {}]
}

# Returns the path of a scratch file NAME holding TEXT.
proc scratchFile {name text} {
    set path [file join $::scratch $name]
    set f [open $path w]
    fconfigure $f -encoding utf-8
    puts -nonewline $f $text
    close $f
    return $path
}

# Returns {status STATUS out STDOUT err STDERR} of peakview run with ARGS
# (and standard input from the file INPUT, when given with -stdin).
proc viewer {args} {
    set input /dev/null
    if {[lindex $args 0] eq "-stdin"} { set args [lassign $args - input] }
    set out [file join $::scratch out.txt]
    set err [file join $::scratch err.txt]
    set status 0
    if {[catch {exec $::peakview {*}$args < $input > $out 2> $err} msg opts]} {
        set code [dict get $opts -errorcode]
        if {[lindex $code 0] ne "CHILDSTATUS"} { error $msg }
        set status [lindex $code 2]
    }
    set result [dict create status $status]
    foreach {key path} [list out $out err $err] {
        set f [open $path]
        fconfigure $f -encoding utf-8
        dict set result $key [string trim [read $f]]
        close $f
    }
    return $result
}

# Returns the pixel of the graph G at 2θ X and intensity Y.
proc pixel {g x y} {
    return [list [expr {round([$g axis transform x $x])}] [expr {round([$g axis transform y $y])}]]
}

# Returns the rows of the picture FILE, each a list of #rrggbb colours.
proc pictureRows {file} {
    set img [image create photo -file $file]
    set rows [$img data]
    image delete $img
    return $rows
}

# Returns the sticks of COLOUR in ROWS: a list of {left right top bottom}
# for each group of neighbouring columns that hold a vertical run of at
# least MINRUN pixels of it (a legend swatch, a horizontal line, has none).
proc sticksOf {rows colour {minrun 8}} {
    # Row by row, the length of the run of COLOUR that ends there, by column.
    set runs [dict create]
    set y 0
    foreach row $rows {
        set next [dict create]
        foreach x [lsearch -all -exact $row $colour] {
            set run [expr {[dict exists $runs $x] ? [dict get $runs $x] + 1 : 1}]
            dict set next $x $run
            if {$run >= $minrun} {
                if {![info exists tops($x)]} { set tops($x) [expr {$y - $run + 1}] }
                set bottoms($x) $y
            }
        }
        set runs $next
        incr y
    }
    set columns [lmap x [lsort -integer [array names tops]] { list $x $tops($x) $bottoms($x) }]
    set sticks {}
    foreach c $columns {
        lassign $c x top bottom
        if {[llength $sticks] > 0 && [lindex $sticks end 1] == $x - 1} {
            lassign [lindex $sticks end] l - t b
            lset sticks end [list $l $x [expr {min($t, $top)}] [expr {max($b, $bottom)}]]
        } else {
            lappend sticks [list $x $x $top $bottom]
        }
    }
    return $sticks
}

# Returns the number of pixels of COLOUR in ROWS on the rows where its
# sticks begin and end (one row either side too), between the sticks: a
# trace that joins the sticks along their floor or their top shows there.
proc betweenSticks {rows colour} {
    set sticks [sticksOf $rows $colour]
    set count 0
    set ends {}
    foreach s $sticks { lappend ends [lindex $s 2] [lindex $s 3] }
    foreach y [lsort -integer -unique $ends] {
        foreach dy {-1 0 1} {
            set row [lindex $rows [expr {$y + $dy}]]
            foreach a [lrange $sticks 0 end-1] b [lrange $sticks 1 end] {
                for {set x [expr {[lindex $a 1] + 2}]} {$x < [lindex $b 0] - 1} {incr x} {
                    if {[lindex $row $x] eq $colour} { incr count }
                }
            }
        }
    }
    return $count
}

# Returns the number of pixels of COLOUR in ROWS.
proc countColour {rows colour} {
    return [regexp -all -- $colour [join $rows " "]]
}

# Ends the file: the summary, and a non-zero status when a test failed.
proc finish {} {
    set failed [expr {$::tcltest::numTests(Failed) > 0}]
    # With Tk loaded, cleanupTests itself exits, with status 0, unless
    # the run counts as interactive.
    testConstraint interactive 1
    cleanupTests
    file delete -force $::scratch
    exit $failed
}
