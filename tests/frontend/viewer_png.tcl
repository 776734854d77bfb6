# Renders a plot script with peakview --png and checks the picture's colours.
#
#   xvfb-run -a tclsh viewer_png.tcl PEAKVIEW PEAKPOS DECK EXPECT
#
# The script is peakpos's output for DECK, handed to peakview on its
# standard input.
# EXPECT is "both" (allowed and extinct sticks) or "allowed" (no extinct
# stick: the extinct colour must be absent). A stick of the 450-pixel-high
# picture is a few hundred pixels of its colour; the legend swatch of an
# element is far fewer, so "holds a colour" means at least 200 pixels of it.

package require Tk
wm withdraw .

lassign $argv peakview peakpos deck expect
set allowed "#1f4fd0"
set extinct "#d0261f"

if {[info exists env(TMPDIR)]} { set dir $env(TMPDIR) } else { set dir /tmp }
set png [file join $dir peakview-test-[pid].png]
if {[catch {exec $peakpos < $deck 2>@stderr | $peakview --png $png 2>@stderr} msg]} {
    puts stderr "FAIL: peakview --png failed: $msg"
    exit 1
}
set img [image create photo -file $png]
file delete $png
set w [image width $img]
set h [image height $img]
set pixels [join [$img data] " "]
set count [dict create $allowed 0 $extinct 0]
foreach colour [dict keys $count] {
    dict set count $colour [regexp -all -- $colour $pixels]
}
puts "picture ${w}x$h: [dict get $count $allowed] allowed-colour and [dict get $count $extinct] extinct-colour pixels"

set ok 1
if {$w < 400 || $h < 200} { puts stderr "FAIL: the picture is only ${w}x$h"; set ok 0 }
if {[dict get $count $allowed] < 200} { puts stderr "FAIL: no allowed stick in the picture"; set ok 0 }
switch -- $expect {
    both {
        if {[dict get $count $extinct] < 200} { puts stderr "FAIL: no extinct stick in the picture"; set ok 0 }
    }
    allowed {
        if {[dict get $count $extinct] > 0} { puts stderr "FAIL: extinct colour in a picture without extinct sticks"; set ok 0 }
    }
    default { puts stderr "unknown expectation $expect"; exit 2 }
}
exit [expr {$ok ? 0 : 1}]
