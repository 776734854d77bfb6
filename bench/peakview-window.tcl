# Times the window's own procedures on the big input of
# bench/peakview-input.tcl: one pointer motion (the readout), a zoom by
# box, wheel and pan, and the labels laid out again after each.
#
#   xvfb-run -a tclsh bench/peakview-window.tcl PEAKPOS DIR ?--labels? ?WxH?
#
# DIR holds big.xy and phase1..5.deck. Without --labels the phases are
# the decks' plot scripts (no h k l, so no labels), with it the decks.
# With PEAKVIEW_LAYOUT=script in the environment the labels are laid out
# by the Tcl procedures instead of the compiled layout. CPU times are this
# process's alone (the X server draws in its own).

lassign $argv peakpos dir labels size
if {$size eq ""} { set size 1000x600 }
lassign [split $size x] width height
set here [file dirname [file normalize [info script]]]
set auto_path [linsert $auto_path 0 [file join [file dirname $here] tools lib]]
package require Tk
wm withdraw .
package require BLT
foreach p {sources data readout strength plot labels view} { package require peakview::$p }
if {[info exists env(PEAKVIEW_LAYOUT)] && $env(PEAKVIEW_LAYOUT) eq "script"} {
    set peakview::labels::compiled 0
}
puts "  labels laid out by [expr {[peakview::labels::compiled] ? "the compiled layout" : "the Tcl procedures"}]"

# Returns the CPU time in microseconds this process's main thread has used.
proc cpu {} {
    set f [open /proc/self/schedstat]
    set ns [lindex [read $f] 0]
    close $f
    return [expr {$ns / 1000}]
}

set args {}
foreach p {1 2 3 4 5} {
    set deck [file join $dir phase$p.deck]
    if {$labels eq "--labels"} {
        lappend args $deck
    } else {
        set script [file join $dir phase$p.tcl]
        exec $peakpos < $deck > $script
        lappend args $script
    }
}
set pattern [peakview::data::read [file join $dir big.xy]]
set phases [peakview::sources::phases $args [dict create peakpos $peakpos peakhkl "" \
    selfdir "" wave "" ttmax "" limit 60000] $pattern]
set opt [dict create extinct 1 sticks 0 size [list $width $height] labels [expr {$labels eq "--labels" ? "allowed" : ""}]]
set layout [peakview::plot::layout $phases $pattern $opt]
set g [peakview::plot::draw .g $layout $width $height]
pack $g
set labelled {}
if {$labels eq "--labels"} {
    set labelled [peakview::labels::sticks $phases $layout allowed]
}
pack [peakview::view::interact $g [dict create phases $phases layout $layout scale linear \
    second {} wavelength 1.5406 labels [expr {$labelled eq "" ? {} : [list $labelled TkDefaultFont allowed]}] \
    extinct 1 intensity 1]] -fill x -side bottom -before $g
if {$labelled ne ""} { peakview::labels::follow $g $labelled TkDefaultFont }
wm deiconify .
update

# Returns the mean time in ms of SCRIPT run N times.
proc ms {n script} {
    set us [lindex [uplevel 1 [list time $script $n]] 0]
    return [format %.2f [expr {$us / 1000.0}]]
}

lassign [peakview::view::plotArea $g] x0 y0 x1 y1
set ymid [expr {($y0 + $y1) / 2}]
set i 0
set motion [ms 500 {
    peakview::view::point $g [expr {$x0 + 1 + ($i * 7) % int($x1 - $x0 - 2)}] $ymid
    incr i
}]
puts "pointer motion (readout): $motion ms per motion (500 positions across the plot)"
puts "  e.g. [string range $peakview::view::readout($g) 0 150]"
set motionDraw [ms 50 {
    peakview::view::motion $g [expr {$x0 + 1 + ($i * 7) % int($x1 - $x0 - 2)}] $ymid
    incr i
    update idletasks
}]
puts "pointer motion with the redraw: $motionDraw ms"
# Each gesture, then the labels laid out again and the graph redrawn.
foreach {what script} {
    "box zoom" { peakview::view::box $g [expr {$x0 + 200}] [expr {$y0 + 20}] [expr {$x0 + 400}] [expr {$y1 - 150}] }
    "wheel step in" { peakview::view::wheel $g [expr {$x0 + 300}] 1 }
    "pan" { peakview::view::pan $g 40 0 }
    "back" { peakview::view::back $g }
    "reset" { peakview::view::reset $g }
} {
    set c0 [cpu]
    set t0 [clock microseconds]
    eval $script
    set t1 [clock microseconds]
    update
    set t2 [clock microseconds]
    set c2 [cpu]
    set n [llength [$g marker names {peakview-label[0-9]*}]]
    puts [format "%-14s %7.1f ms the view, %7.1f ms until drawn (%5.1f ms CPU)%s" $what \
              [expr {($t1 - $t0) / 1000.0}] [expr {($t2 - $t1) / 1000.0}] [expr {($c2 - $c0) / 1000.0}] \
              [expr {$labelled eq "" ? "" : " (labels laid out again: $n drawn)"}]]
}
if {$labelled ne ""} {
    # The layout alone, without BLT's redraw: the labels of the box's view.
    peakview::view::box $g [expr {$x0 + 200}] [expr {$y0 + 20}] [expr {$x0 + 400}] [expr {$y1 - 150}]
    update
    set plan [lindex $::peakview::labels::following($g) 0]
    set c0 [cpu]
    set alone [ms 5 { peakview::labels::drawPlan $g $plan TkDefaultFont 2 2 $::peakview::plot::rows($g) 0 }]
    set c1 [cpu]
    puts "the labels of the box's view laid out and made markers, without the redraw: $alone ms\
          ([format %.1f [expr {($c1 - $c0) / 5000.0}]] ms CPU)"
    set plan [ms 3 { peakview::labels::plan $labelled TkDefaultFont }]
    puts "the labels' order and sizes, once at the start: $plan ms"
}
if {![info exists ::noexit]} { exit 0 }
